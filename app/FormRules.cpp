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

bool IsAllowedRedirect(const std::string& url) {
    // Browsers drop tabs and line breaks anywhere in an address ("java\tscript:" is a script), so
    // an address with a control byte is refused outright.
    for (char c : url)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    const size_t start = url.find_first_not_of(' ');
    if (start == std::string::npos) return false;
    // A scheme ends at the first ":" before any "/", "?" or "#"; without one the address is relative.
    const size_t colon = url.find(':', start);
    const size_t pathStart = url.find_first_of("/?#", start);
    if (colon == std::string::npos || (pathStart != std::string::npos && pathStart < colon)) return true;
    const std::string scheme = UpperCase(url.substr(start, colon - start));
    return scheme == "HTTP" || scheme == "HTTPS";
}

}  // namespace velmora
