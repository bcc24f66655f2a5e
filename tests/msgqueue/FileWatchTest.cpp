// The change notice of one file: writes to it wake the watching thread once, while other files of
// its folder, and reading or touching the file itself, wake no one.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "FileWatch.h"
#include "Messages.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

constexpr unsigned kChanged = WM_USER + 1;

// Takes every pending message; returns how many were change notices for the window.
int TakeNotices(TMessageQueue& q, HWND window) {
    int n = 0;
    TMsg m;
    while (q.Peek(m, 0, 0, true))
        if (m.Window == window && m.Message == kChanged) ++n;
    return n;
}

void Append(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::app) << text;
}

TEST(FileWatch, OnlyWritesToTheWatchedFileWake) {
    char tmpl[] = "/tmp/velmora-watch-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string queueFile = dir + "/app_S";
    Append(queueFile, "");
    TMessageQueue& q = TMessageQueue::Current();
    const HWND window = q.AllocateHWnd([](TMsg&) {});
    {
        TFileWatch watch(queueFile, window, kChanged);
        ASSERT_TRUE(watch.Active());

        // Another client's request and answer files come and go beside the queue.
        Append(dir + "/app_C_0001_REQ", "REQUEST_METHOD=POST\r\n\r\n");
        fs::remove(dir + "/app_C_0001_REQ");
        // A client that only looks, and the server's heartbeat.
        std::string seen;
        std::ifstream(queueFile) >> seen;
        ::utimes(queueFile.c_str(), nullptr);
        EXPECT_FALSE(q.WaitMessage(150));
        EXPECT_EQ(TakeNotices(q, window), 0);

        // Two writes before the thread looks: one notice says it all.
        Append(queueFile, "record one");
        Append(queueFile, "record two");
        EXPECT_TRUE(q.WaitMessage(2000));
        EXPECT_EQ(TakeNotices(q, window), 1);

        // The queue file deleted (a stop asked for): the watcher is told, so it finds it gone.
        fs::remove(queueFile);
        EXPECT_TRUE(q.WaitMessage(2000));
        EXPECT_EQ(TakeNotices(q, window), 1);
    }
    q.DeallocateHWnd(window);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace velmora
