// Tests of the environment and path routines: the "ZB" rule, long values, the program file, file
// names for logs and uploads (relative, absolute, tidied) and existence tests.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "EnvPaths.h"
#include "TempDir.h"

namespace velmora {
namespace {

TEST(GetEnv, ReadsValuesAndHidesZbServers) {
    unsetenv("VELMORA_TEST_MISSING");
    EXPECT_EQ(GetEnv("VELMORA_TEST_MISSING"), "");

    setenv("SERVER_SOFTWARE", "ZB-Server", 1);
    EXPECT_EQ(GetEnv("SERVER_SOFTWARE"), "");
    setenv("SERVER_SOFTWARE", "lighttpd/1.4", 1);
    EXPECT_EQ(GetEnv("SERVER_SOFTWARE"), "lighttpd/1.4");
    setenv("SERVER_SOFTWARE", "zb-lower", 1);  // the rule is for "ZB" as written
    EXPECT_EQ(GetEnv("SERVER_SOFTWARE"), "zb-lower");
    setenv("OTHER_SOFTWARE", "ZB-Server", 1);
    EXPECT_EQ(GetEnv("OTHER_SOFTWARE"), "ZB-Server");
    unsetenv("SERVER_SOFTWARE");

    // Values beyond any fixed buffer come back whole.
    std::string longValue(10000, 'v');
    longValue += "end";
    setenv("VELMORA_TEST_LONG", longValue.c_str(), 1);
    EXPECT_EQ(GetEnv("VELMORA_TEST_LONG"), longValue);
}

TEST(ModuleFileName, IsTheRunningProgram) {
    std::string path = ModuleFileName();
    ASSERT_TRUE(IsAbsolutePath(path)) << path;
    EXPECT_EQ(ExtractFileName(path), "util_hutils_test");
    EXPECT_TRUE(FileExists(path));
}

struct TBuildCase {
    const char* What;
    const char* Base;
    const char* Dir;
    bool KeepName;
    const char* Ext;
    bool KeepExt;
    const char* FileName;
    const char* Want;
};

TEST(BuildFileName, BuildsLogAndUploadNames) {
    const TBuildCase cases[] = {
        {"log file", "/cgi/velmora", "Log", false, "Log", false, "velmora", "/cgi/Log/velmora.Log"},
        {"log file, dotted program", "/cgi/Velmora.exe", "Log", false, "Log", false, "Velmora.exe",
         "/cgi/Log/Velmora.Log"},
        {"upload beside the program", "/cgi/velmora", "", false, "tmp", false, "4711photo.jpg",
         "/cgi/4711photo.tmp"},
        {"absolute Dir", "/cgi/velmora", "/up", false, "tmp", false, "4711photo.jpg", "/up/4711photo.tmp"},
        {"absolute FileName unchanged", "/cgi/velmora", "Log", false, "Log", false, "/x/./y.txt",
         "/x/./y.txt"},
        {"relative Dir going up", "/cgi/velmora", "../up", false, "tmp", false, "a.jpg",
         "/cgi/../up/a.tmp"},
        {"Dir of . is the program's folder", "/cgi/velmora", ".", false, "tmp", false, "a.jpg",
         "/cgi/a.tmp"},
        {"doubled separators collapse", "/cgi/velmora", "x//y/./z/", false, "tmp", false, "a",
         "/cgi/x/y/z/a.tmp"},
        {"leading // collapses too", "/cgi/velmora", "//server/share", false, "tmp", false, "a",
         "/server/share/a.tmp"},
        {"empty Ext keeps the file's extension", "/cgi/velmora", "", false, "", false, "a.tar.gz",
         "/cgi/a.tar.gz"},
        {"KeepName and KeepExt from Base", "/cgi/prog.cgi", "", true, "", true, "up",
         "/cgi/progup.cgi"},
        {"KeepName needs a dot in Base", "/cgi/prog", "", true, "Log", false, "up", "/cgi/up.Log"},
    };
    for (const TBuildCase& c : cases)
        EXPECT_EQ(BuildFileName(c.Base, c.Dir, c.KeepName, c.Ext, c.KeepExt, c.FileName), c.Want)
            << c.What;

    // Long folders are kept whole, not cut at some buffer size.
    std::string deep = "/" + std::string(1500, 'd');
    EXPECT_EQ(BuildFileName("/cgi/velmora", deep, false, "Log", false, "velmora"),
              deep + "/velmora.Log");
}

TEST(FindFileInfo, TestsFilesAndFolders) {
    test::TempDir temp;
    std::string dir = temp.Path();
    std::ofstream(dir + "/note.txt") << "12345";

    TSearchRec rec;
    ASSERT_EQ(FindFileInfo(dir + "/*.txt", faAnyFile, rec), 0);
    EXPECT_EQ(rec.Name, "note.txt");
    EXPECT_EQ(rec.Size, 5);
    EXPECT_NE(FindFileInfo(dir + "/missing.txt", faAnyFile, rec), 0);
    EXPECT_NE(FindFileInfo(dir + "/nofolder/x", faAnyFile, rec), 0);
    // A folder is found only when the mask asks for folders.
    EXPECT_EQ(FindFileInfo(dir, faDirectory, rec), 0);
    EXPECT_NE(FindFileInfo(dir, 0, rec), 0);
}

}  // namespace
}  // namespace velmora
