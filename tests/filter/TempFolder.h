// TempFolder: a fresh folder for one test, removed with its contents when the test ends, so that
// tests running at the same time never share files.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace velmora::test {

class TempFolder {
public:
    TempFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/velmora-filter-XXXXXX";
        if (char* made = ::mkdtemp(pattern.data())) FPath = made;
    }
    ~TempFolder() {
        std::error_code ec;
        if (!FPath.empty()) std::filesystem::remove_all(FPath, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return FPath; }
    std::string operator/(const std::string& name) const { return FPath + "/" + name; }

private:
    std::string FPath;
};

}  // namespace velmora::test
