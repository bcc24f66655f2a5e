// Window titles as the resident modes use them: a server's title is seen by other processes for as
// long as the server lives, and disappears when it is killed, with no clean-up by anyone.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "Forms.h"
#include "TempDir.h"
#include "TestChild.h"
#include "WindowTitle.h"

using namespace velmora;
using velmora::test::TempDir;
using velmora::test::TestChild;

namespace {

// Every test gets its own title folder, so parallel test runs never see each other's windows.
class WindowTitles : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("TMPDIR");
        FOldTmp = old ? old : "";
        FHadTmp = old != nullptr;
        ::setenv("TMPDIR", FDir.Path().c_str(), 1);
    }
    void TearDown() override {
        if (FHadTmp) ::setenv("TMPDIR", FOldTmp.c_str(), 1);
        else ::unsetenv("TMPDIR");
    }
    TempDir FDir;
    std::string FOldTmp;
    bool FHadTmp = false;
};

}  // namespace

TEST_F(WindowTitles, SeenByAnotherProcessAndGoneWhenItsOwnerIsKilled) {
    const std::string title = "web/cgi/app.exe_S %41 \x01\xE9";  // slashes, escapes, control and 8-bit bytes
    EXPECT_FALSE(FindWindowByTitle(title));

    TestChild server(PLATFORM_CHILD, {"title", title});
    ASSERT_EQ(server.ReadLine(), "ready");
    EXPECT_TRUE(FindWindowByTitle(title));
    EXPECT_FALSE(FindWindowByTitle("web/cgi/app.exe_S %41 \x01"));  // exact titles only
    EXPECT_FALSE(FindWindowByTitle("web/cgi/app.exe_s %41 \x01\xE9"));

    // While it stands, no other window can take the same title.
    TWindowTitle second;
    EXPECT_FALSE(second.SetTitle(title));

    server.Kill(SIGKILL);
    EXPECT_FALSE(FindWindowByTitle(title));
    // The dead owner's file is no obstacle to a new window of that title.
    EXPECT_TRUE(second.SetTitle(title));
    EXPECT_TRUE(FindWindowByTitle(title));
}

TEST_F(WindowTitles, GoneWhenTheOwnerEndsNormallyAndNothingIsLeftBehind) {
    TestChild server(PLATFORM_CHILD, {"title", "app_S"});
    ASSERT_EQ(server.ReadLine(), "ready");
    EXPECT_TRUE(FindWindowByTitle("app_S"));
    server.CloseInput();
    EXPECT_EQ(server.Wait(), 0);
    EXPECT_FALSE(FindWindowByTitle("app_S"));
    const std::string folder = WindowTitleFolder();
    ASSERT_FALSE(folder.empty());
    struct stat st;
    EXPECT_NE(::stat((folder + "/app_S").c_str(), &st), 0);
}

TEST_F(WindowTitles, NewTitleReleasesTheOldOne) {
    TWindowTitle w;
    ASSERT_TRUE(w.SetTitle("Brevanto - VELMORA"));
    ASSERT_TRUE(w.SetTitle("velmora_S"));
    EXPECT_FALSE(FindWindowByTitle("Brevanto - VELMORA"));
    EXPECT_TRUE(FindWindowByTitle("velmora_S"));
    TWindowTitle other;
    EXPECT_TRUE(other.SetTitle("Brevanto - VELMORA"));
    EXPECT_FALSE(w.SetTitle(""));  // an empty title is no window title
    EXPECT_FALSE(FindWindowByTitle("velmora_S"));
}

TEST_F(WindowTitles, FindersNeverKeepAnOwnerFromTakingItsTitle) {
    // Waiting clients look for the server window every 100 ms while the server sets its title.
    std::atomic<bool> stop{false};
    std::thread finder([&] {
        while (!stop) FindWindowByTitle("busy_S");
    });
    TWindowTitle w;
    int taken = 0;
    for (int i = 0; i < 300; ++i) {
        taken += w.SetTitle("busy_S");
        w.SetTitle("");
    }
    stop = true;
    finder.join();
    EXPECT_EQ(taken, 300);
}

TEST_F(WindowTitles, ApplicationTitleIsTheApplicationWindowsTitle) {
    const std::string title = "platform-test-app-" + std::to_string(::getpid()) + "_S";
    Application().SetTitle(title);
    EXPECT_EQ(Application().Title(), title);
    EXPECT_TRUE(Application().TitlePublished());
    EXPECT_TRUE(FindWindowByTitle(title));
    Application().SetTitle("");
    EXPECT_FALSE(FindWindowByTitle(title));
}

TEST_F(WindowTitles, FolderOfAnotherOwnerOrKindIsNotUsed) {
    // A link where the folder belongs (someone could point it anywhere): it is not followed.
    const std::string folder = FDir / ("velmora-windows-" + std::to_string(::geteuid()));
    ASSERT_EQ(::mkdir((FDir / "elsewhere").c_str(), 0700), 0);
    ASSERT_EQ(::symlink((FDir / "elsewhere").c_str(), folder.c_str()), 0);
    TWindowTitle w;
    EXPECT_FALSE(w.SetTitle("app_S"));
    EXPECT_FALSE(FindWindowByTitle("app_S"));
}

TEST(WindowTitleFileNames, DistinctReversibleAndSafe) {
    const std::string titles[] = {"app.exe_S", "a/b", "a%2Fb", ".", "..", ".hidden", "tab\there",
                                  std::string("nul\0byte", 8), "\xFF\x80", "%"};
    for (const auto& t : titles) {
        const std::string name = WindowTitleFileName(t);
        SCOPED_TRACE(name);
        EXPECT_EQ(name.find('/'), std::string::npos);
        EXPECT_EQ(name.find('\0'), std::string::npos);
        EXPECT_NE(name[0], '.');
        EXPECT_EQ(WindowTitleFromFileName(name), t);
    }
    EXPECT_EQ(WindowTitleFileName("Brevanto - VELMORA"), "Brevanto - VELMORA");
    EXPECT_NE(WindowTitleFileName("a/b"), WindowTitleFileName("a%2Fb"));

    // Titles too long for a file name stay distinct and within the limit.
    const std::string longA = std::string(300, '/') + "A", longB = std::string(300, '/') + "B";
    EXPECT_LE(WindowTitleFileName(longA).size(), 255u);
    EXPECT_NE(WindowTitleFileName(longA), WindowTitleFileName(longB));
}
