// GetEnv, ModuleFileName, BuildFileName and FindFileInfo over the platform's environment and
// file services. Reentrant; the one state kept is the site folder a server was started with.
#include "EnvPaths.h"

#include "SysUtils.h"
#include "System.h"

namespace velmora {

std::string GetEnv(const std::string& name) {
    std::string value;
    if (!GetEnvironmentVariable(name, value)) return {};
    // A "ZB" server is not a standard CGI server, although it sets SERVER_SOFTWARE.
    if (name == "SERVER_SOFTWARE" && Contains(value, "ZB")) return {};
    return value;
}

namespace {
// Process-wide, written once by the main thread before the server's threads exist.
std::string& SiteFolder() {
    static std::string folder;
    return folder;
}
}  // namespace

void SetSiteFolder(const std::string& folder) {
    SiteFolder() = folder.empty() || folder.back() == PathDelim ? folder : folder + PathDelim;
}

std::string ModuleFileName() {
    const std::string& site = SiteFolder();
    if (site.empty()) return GetModuleFileName();
    return site + ExtractFileName(GetModuleFileName());
}

namespace {

// Removes "./" from every "/./" and one "/" from every "//", first occurrence first, so a Dir
// of "." names the program's folder itself and doubled separators from the joins vanish.
std::string TidyPath(std::string path) {
    for (size_t p; (p = path.find("/./")) != std::string::npos;) path.erase(p + 1, 2);
    for (size_t p; (p = path.find("//")) != std::string::npos;) path.erase(p, 1);
    return path;
}

// Text before and after the first "."; after is empty and hasDot false when there is none.
struct TNameSplit {
    std::string Before, After;
    bool HasDot = false;
};
TNameSplit SplitAtFirstDot(const std::string& name) {
    size_t dot = name.find('.');
    if (dot == std::string::npos) return {name, {}, false};
    return {name.substr(0, dot), name.substr(dot + 1), true};
}

}  // namespace

std::string BuildFileName(const std::string& base, const std::string& dir, bool keepName,
                          const std::string& ext, bool keepExt, const std::string& fileName) {
    if (IsAbsolutePath(fileName)) return fileName;
    std::string dirPart =
        IsAbsolutePath(dir) ? dir + "/" : ExtractFilePath(base) + "/" + dir + "/";

    std::string namePart, extPart;
    TNameSplit baseName = SplitAtFirstDot(ExtractFileName(base));
    if ((keepName || keepExt) && baseName.HasDot) {
        if (keepExt) extPart = baseName.After;
        if (keepName) namePart = baseName.Before;
    }
    TNameSplit file = SplitAtFirstDot(fileName);
    if (file.HasDot && ext.empty()) extPart += file.After;
    namePart += file.Before;
    extPart += ext;
    return TidyPath(dirPart + namePart + "." + extPart);
}

int FindFileInfo(const std::string& path, int attributes, TSearchRec& rec) {
    return FindFirstFile(path, attributes, rec);
}

}  // namespace velmora
