// CountPost reads the whole counts file under its lock, drops the windows that have ended, counts
// the post and writes the file again, so concurrent posts of any process are counted one after
// another; only lock holders read it, so none sees a write half done.
#include "RateLimit.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <charconv>
#include <string_view>
#include <vector>

#include "Files.h"
#include "IpAddress.h"
#include "LockedFile.h"
#include "SysUtils.h"

namespace velmora {

namespace {

constexpr size_t kMaxAddresses = 10000;

struct TWindow {
    std::string Address;
    long long Start = 0;
    long Count = 0;
    long long Seen = 0;  // the address's latest post, refused ones included
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

// The next blank-separated field of line from pos on.
std::string_view NextField(std::string_view line, size_t& pos) {
    size_t b = line.find_first_not_of(' ', pos);
    if (b == std::string_view::npos) return {};
    size_t e = line.find(' ', b);
    if (e == std::string_view::npos) e = line.size();
    pos = e;
    return line.substr(b, e - b);
}

template <class T>
bool ToNumber(std::string_view s, T& out) {
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size();
}

std::vector<TWindow> ReadWindows(std::string_view text, long long now, long seconds) {
    std::vector<TWindow> windows;
    for (size_t pos = 0; pos < text.size() && windows.size() < kMaxAddresses;) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        size_t at = 0;
        TWindow w;
        std::string_view address = NextField(line, at);
        // A damaged line is dropped: the address starts a new window, nothing worse.
        if (address.empty() || !ToNumber(NextField(line, at), w.Start) || !ToNumber(NextField(line, at), w.Count) ||
            w.Count < 1)
            continue;
        // Files written before the last-seen time was kept have three fields: seen at the start.
        std::string_view seen = NextField(line, at);
        if (seen.empty() || !ToNumber(seen, w.Seen)) w.Seen = w.Start;
        w.Address = std::string(address);
        if (w.Start + seconds > now && w.Start <= now) windows.push_back(std::move(w));
    }
    return windows;
}

void WriteWindows(TLockedFile& file, const std::vector<TWindow>& windows, const std::string& old) {
    std::string text;
    for (const TWindow& w : windows)
        text += w.Address + " " + std::to_string(w.Start) + " " + std::to_string(w.Count) + " " + std::to_string(w.Seen) + "\n";
    // Written in place, padded with blank lines to the old length: a counts file needs no trip to
    // the disk (a crash costs a few counts), and replacing it with a synced copy would cost more
    // than the rest of the post. Only when it would be mostly padding is it replaced by a short one.
    if (file.Writable() && text.size() >= old.size() / 2) {
        text.resize(std::max(text.size(), old.size()), '\n');
        file.OverwriteAt(0, text);
    } else {
        file.Replace(text);
    }
}

}  // namespace

std::string RateLimitKey(const std::string& address, int ipv6Prefix) {
    std::optional<TIpBytes> ip = ParseIpAddress(address);
    if (!ip) return CleanAddress(address);
    if (IsIpv4(*ip)) return FormatIpAddress(*ip);
    // One subscriber usually holds a whole /64 (or more): counted address by address, rotating
    // through it would evade the limit.
    return FormatIpAddress(MaskIpAddress(*ip, ipv6Prefix)) + "/" + std::to_string(ipv6Prefix);
}

bool ParseRateLimit(const std::string& text, TRateLimit& limit) {
    std::string t = Trim(text);
    size_t slash = t.find('/');
    if (slash == std::string::npos) return false;
    return ParseWhole(Trim(t.substr(0, slash)), 1, 1000000, limit.Posts) &&
           ParseWhole(Trim(t.substr(slash + 1)), 1, 31L * 86400, limit.Seconds);
}

long CountPost(const std::string& countsFile, const std::string& address, const TRateLimit& limit, long long now) {
    // Made empty when missing; never truncated, so a file another process just wrote is kept. It
    // lists visitors' addresses: readable by the web server's account and group only.
    if (!AppendToFile(countsFile, "", 0640)) throw EFCreateError("Cannot create \"" + countsFile + "\"");
    TLockedFile file(countsFile);
    std::string old = file.ReadAll();
    std::vector<TWindow> windows = ReadWindows(old, now, limit.Seconds);
    std::string who = RateLimitKey(address, limit.Ipv6Prefix);
    auto mine = std::find_if(windows.begin(), windows.end(), [&](const TWindow& w) { return w.Address == who; });
    if (mine != windows.end() && mine->Count >= limit.Posts) {
        mine->Seen = now;
        WriteWindows(file, windows, old);
        return std::max<long long>(1, mine->Start + limit.Seconds - now);
    }
    if (mine != windows.end()) {
        ++mine->Count;
        mine->Seen = now;
    } else {
        // Full: the address seen longest ago makes room, so a busy visitor keeps its count while
        // a flood of new addresses passes through.
        if (windows.size() >= kMaxAddresses)
            windows.erase(std::min_element(windows.begin(), windows.end(),
                                           [](const TWindow& a, const TWindow& b) { return a.Seen < b.Seen; }));
        windows.push_back({who, now, 1, now});
    }
    WriteWindows(file, windows, old);
    return 0;
}

}  // namespace velmora
