// CountPost reads the whole counts file under its lock, drops the windows that have ended, counts
// the post and writes the file anew (beside it, then renamed), so concurrent posts of any process
// are counted one after another and a reader never sees half a file.
#include "RateLimit.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "Files.h"
#include "LockedFile.h"
#include "SysUtils.h"

namespace velmora {

namespace {

constexpr size_t kMaxAddresses = 10000;

struct TWindow {
    std::string Address;
    long long Start = 0;
    long Count = 0;
};

bool ParseWhole(const std::string& s, long min, long max, long& out) {
    if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos) return false;
    out = std::atol(s.c_str());
    return out >= min && out <= max;
}

// A client address as a web server gives it holds hex digits, "." and ":" only; anything else
// (a line break from a broken front end, say) must not reach the file's lines.
std::string CleanAddress(const std::string& address) {
    std::string out;
    for (char c : address.substr(0, 64))
        if (std::isxdigit(static_cast<unsigned char>(c)) || c == '.' || c == ':') out += c;
    return out.empty() ? "unknown" : out;
}

std::vector<TWindow> ReadWindows(const std::string& text, long long now, long seconds) {
    std::vector<TWindow> windows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line) && windows.size() < kMaxAddresses;) {
        std::istringstream fields(line);
        TWindow w;
        // A damaged line is dropped: the address starts a new window, nothing worse.
        if (!(fields >> w.Address >> w.Start >> w.Count) || w.Count < 1) continue;
        if (w.Start + seconds > now && w.Start <= now) windows.push_back(w);
    }
    return windows;
}

}  // namespace

bool ParseRateLimit(const std::string& text, TRateLimit& limit) {
    std::string t = Trim(text);
    size_t slash = t.find('/');
    if (slash == std::string::npos) return false;
    return ParseWhole(Trim(t.substr(0, slash)), 1, 1000000, limit.Posts) &&
           ParseWhole(Trim(t.substr(slash + 1)), 1, 31L * 86400, limit.Seconds);
}

long CountPost(const std::string& countsFile, const std::string& address, const TRateLimit& limit, long long now) {
    // Made empty when missing; never truncated, so a file another process just wrote is kept.
    if (!AppendToFile(countsFile, "")) throw EFCreateError("Cannot create \"" + countsFile + "\"");
    TLockedFile file(countsFile);
    std::vector<TWindow> windows = ReadWindows(file.ReadAll(), now, limit.Seconds);
    std::string who = CleanAddress(address);
    auto mine = std::find_if(windows.begin(), windows.end(), [&](const TWindow& w) { return w.Address == who; });
    if (mine != windows.end() && mine->Count >= limit.Posts) return std::max<long long>(1, mine->Start + limit.Seconds - now);
    if (mine != windows.end()) {
        ++mine->Count;
    } else {
        if (windows.size() >= kMaxAddresses) {
            std::sort(windows.begin(), windows.end(), [](const TWindow& a, const TWindow& b) { return a.Start > b.Start; });
            windows.resize(kMaxAddresses - 1);
        }
        windows.push_back({who, now, 1});
    }
    std::string text;
    for (const TWindow& w : windows) text += w.Address + " " + std::to_string(w.Start) + " " + std::to_string(w.Count) + "\n";
    file.Replace(text);
    return 0;
}

}  // namespace velmora
