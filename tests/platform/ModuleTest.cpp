// The module file name and the library flag: inside a shared library they name the library, so side
// files are found beside it; in the executable they name the executable, wherever it was started from.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "Files.h"
#include "System.h"

using namespace velmora;

namespace {

struct Library {
    void* handle = nullptr;
    explicit Library(const std::string& path) : handle(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
    ~Library() {
        if (handle) ::dlclose(handle);
    }
    std::string ModuleName() const {
        auto fn = reinterpret_cast<int (*)(char*, int)>(::dlsym(handle, "velmora_test_module_name"));
        char buf[PATH_MAX];
        return fn && fn(buf, sizeof buf) >= 0 ? std::string(buf) : std::string("(no answer)");
    }
    int RunsAsLibrary() const {
        auto fn = reinterpret_cast<int (*)()>(::dlsym(handle, "velmora_test_runs_as_library"));
        return fn ? fn() : -1;
    }
};

}  // namespace

TEST(ModuleFileName, InsideASharedLibraryItIsTheLibrarysPath) {
    Library lib(PLATFORM_MODULE_LIB);
    ASSERT_NE(lib.handle, nullptr) << ::dlerror();
    EXPECT_EQ(lib.RunsAsLibrary(), 1);
    const std::string name = lib.ModuleName();
    EXPECT_TRUE(IsAbsolutePath(name)) << name;
    EXPECT_EQ(RealPath(name), RealPath(PLATFORM_MODULE_LIB));
}

TEST(ModuleFileName, LibraryLoadedByARelativePathStillGivesItsFullPath) {
    const std::string full = RealPath(PLATFORM_MODULE_LIB);
    char old[PATH_MAX];
    ASSERT_NE(::getcwd(old, sizeof old), nullptr);
    ASSERT_EQ(::chdir(ExtractFileDir(full).c_str()), 0);
    Library lib("./" + ExtractFileName(full));
    // A server may change its working directory after loading its modules.
    ASSERT_EQ(::chdir("/"), 0);
    std::string name = lib.handle ? lib.ModuleName() : std::string(::dlerror());
    ASSERT_EQ(::chdir(old), 0);
    EXPECT_EQ(name, full);
}

TEST(ModuleFileName, InTheExecutableItIsTheExecutable) {
    EXPECT_FALSE(RunsAsLibrary());
    const std::string name = GetModuleFileName();
    EXPECT_TRUE(IsAbsolutePath(name)) << name;
    EXPECT_EQ(RealPath(name), RealPath("/proc/self/exe"));
    EXPECT_EQ(ParamStr(0), name);
}
