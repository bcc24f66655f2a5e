// Exclusive opens as the resident modes' queue file uses them: refused while another process or
// another thread holds the file exclusively, granted once it lets go; shared opens take no lock.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "Streams.h"
#include "SysUtils.h"
#include "TempDir.h"
#include "TestChild.h"

using namespace velmora;
using velmora::test::TempDir;
using velmora::test::TestChild;

namespace {

bool CanOpenExclusive(const std::string& path) {
    try {
        TFileStream f(path, fmOpenReadWrite | fmShareExclusive);
        return true;
    } catch (const EFOpenError&) {
        return false;
    }
}

void MakeFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

}  // namespace

TEST(FileShare, ExclusiveOpenRefusedWhileAnotherProcessHoldsIt) {
    TempDir dir;
    const std::string queue = dir / "app_S";
    MakeFile(queue, "0123456789");

    TestChild holder(PLATFORM_CHILD, {"lock", queue});
    ASSERT_EQ(holder.ReadLine(), "ready");
    EXPECT_FALSE(CanOpenExclusive(queue));
    // An exclusive create must neither succeed nor truncate the file that someone holds.
    EXPECT_THROW(TFileStream(queue, fmCreate | fmShareExclusive), EFCreateError);
    EXPECT_EQ(TFileStream(queue, fmOpenRead | fmShareDenyNone).Size(), 10);

    holder.CloseInput();
    EXPECT_EQ(holder.Wait(), 0);
    EXPECT_TRUE(CanOpenExclusive(queue));
}

TEST(FileShare, DeadHolderReleasesTheFile) {
    TempDir dir;
    const std::string queue = dir / "app_S";
    MakeFile(queue, "x");
    TestChild holder(PLATFORM_CHILD, {"lock", queue});
    ASSERT_EQ(holder.ReadLine(), "ready");
    EXPECT_FALSE(CanOpenExclusive(queue));
    holder.Kill(SIGKILL);
    EXPECT_TRUE(CanOpenExclusive(queue));
}

TEST(FileShare, ExclusiveOpenRefusedWhileAnotherThreadHoldsIt) {
    TempDir dir;
    const std::string queue = dir / "app_S";
    MakeFile(queue, "x");

    std::atomic<int> step{0};
    std::thread holder([&] {
        TFileStream f(queue, fmOpenReadWrite | fmShareExclusive);
        step = 1;
        while (step != 2) std::this_thread::yield();
    });
    while (step != 1) std::this_thread::yield();
    EXPECT_FALSE(CanOpenExclusive(queue));
    // Request and answer files are opened letting others read and write: no lock is involved.
    EXPECT_NO_THROW(TFileStream(queue, fmOpenRead | fmShareDenyNone));
    step = 2;
    holder.join();
    EXPECT_TRUE(CanOpenExclusive(queue));
}
