// TempDir: a fresh folder for one test, removed with everything in it when the test ends.
// Tests that run at the same time (ctest -j2, several developers) never share one.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace velmora::test {

class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/velmora-test-XXXXXX";
        if (char* made = ::mkdtemp(pattern.data())) FPath = made;
    }
    ~TempDir() {
        std::error_code ec;
        if (!FPath.empty()) std::filesystem::remove_all(FPath, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return FPath; }
    std::string operator/(const std::string& name) const { return FPath + "/" + name; }

private:
    std::string FPath;
};

}  // namespace velmora::test
