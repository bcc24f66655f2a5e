// The template and redirect rules of FormRules.h.
#include "FormRules.h"

#include "EnvPaths.h"
#include "Files.h"
#include "SysUtils.h"

namespace velmora {

namespace {

bool EndsWithNoCase(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && UpperCase(s.substr(s.size() - tail.size())) == UpperCase(tail);
}

bool StartsWithNoCase(const std::string& s, const std::string& head) {
    return s.size() >= head.size() && UpperCase(s.substr(0, head.size())) == UpperCase(head);
}

// path lies in dir (both resolved) or is dir itself.
bool Inside(const std::string& path, const std::string& dir) {
    return !dir.empty() && (path == dir || path.rfind(dir + "/", 0) == 0);
}

// The host a browser takes from what follows "http:": any run of "/" and "\" is skipped (both
// mean "//" there), the authority ends at the next "/", "\", "?" or "#", a login before "@" and
// a port are dropped. "" when the host holds bytes a browser would decode or map ("%", non-ASCII),
// so that such a host is never taken for a listed one.
std::string RedirectHost(const std::string& rest) {
    const size_t begin = rest.find_first_not_of("/\\");
    if (begin == std::string::npos) return {};
    std::string host = rest.substr(begin, rest.find_first_of("/\\?#", begin) - begin);
    if (size_t at = host.rfind('@'); at != std::string::npos) host.erase(0, at + 1);
    const size_t bracket = host.rfind(']');
    if (size_t colon = host.rfind(':'); colon != std::string::npos && (bracket == std::string::npos || colon > bracket))
        host.erase(colon);
    if (!host.empty() && host.back() == '.') host.pop_back();
    for (char c : host)
        if (c == '%' || static_cast<unsigned char>(c) >= 0x80) return {};
    return host;
}

}  // namespace

bool IsSafeTemplateName(const std::string& name) {
    if (name.empty() || name[0] == '/' || name[0] == '\\') return false;
    // Both separators count, so that a name means the same on every system the program runs on.
    size_t start = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i == name.size() || name[i] == '/' || name[i] == '\\') {
            if (name.compare(start, i - start, "..") == 0 && i - start == 2) return false;
            start = i + 1;
        }
    }
    return !(name.size() >= 2 && name[1] == ':');  // a drive path
}

std::string FormTemplatePath(const std::string& name, const std::string& programFile, std::string& why) {
    if (!IsSafeTemplateName(name)) {
        why = "not a name inside the program's folder";
        return {};
    }
    const std::string dir = RealPath(ExtractFileDir(programFile));
    const std::string path = RealPath(ExtractFilePath(programFile) + name);
    if (path.empty() || !Inside(path, dir) || !GetFileStamp(path).Regular) {
        why = "not a file inside the program's folder";
        return {};
    }
    const std::string file = ExtractFileName(path);
    if (!EndsWithNoCase(file, ".htm") && !EndsWithNoCase(file, ".html")) {
        why = "only *.htm and *.html files are templates";
        return {};
    }
    std::string logDir = GetEnv("CGI_LOG_DIR");
    if (!logDir.empty() && !IsAbsolutePath(logDir)) logDir = ExtractFilePath(programFile) + logDir;
    if (path == RealPath(programFile) || StartsWithNoCase(file, "VELMORA.") || Inside(path, RealPath(dir + "/Log")) ||
        (!logDir.empty() && Inside(path, RealPath(logDir)))) {
        why = "one of the program's own files";
        return {};
    }
    return path;
}

std::vector<std::string> WordListItems(const std::string& list) {
    std::vector<std::string> items;
    size_t pos = 0;
    while ((pos = list.find_first_not_of(" \t,", pos)) != std::string::npos) {
        size_t end = list.find_first_of(" \t,", pos);
        items.push_back(list.substr(pos, end - pos));
        pos = end;
    }
    return items;
}

bool InWordList(const std::string& list, const std::string& word) {
    const std::string wanted = LowerCase(word);
    for (const std::string& item : WordListItems(list))
        if (LowerCase(item) == wanted) return true;
    return false;
}

bool IsAllowedRedirect(const std::string& url, const std::string& hosts) {
    // Browsers drop tabs and line breaks anywhere in an address ("java\tscript:" is a script), so
    // an address with a control byte is refused outright; blanks around it they drop too.
    for (char c : url)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    const std::string u = Trim(url);
    if (u.empty()) return false;
    if (u[0] == '/') return u.size() == 1 || (u[1] != '/' && u[1] != '\\');
    // Up to its first "/" (or query, or fragment) a relative address holds neither a scheme's ":"
    // nor a "\", which browsers read as "/".
    const size_t path = u.find_first_of("/?#");
    const size_t mark = u.find_first_of(":\\");
    if (mark == std::string::npos || (path != std::string::npos && path < mark)) return true;
    if (u[mark] != ':') return false;
    const std::string scheme = UpperCase(u.substr(0, mark));
    if (scheme != "HTTP" && scheme != "HTTPS") return false;
    return Trim(hosts).empty() || InWordList(hosts, RedirectHost(u.substr(mark + 1)));
}

}  // namespace velmora
