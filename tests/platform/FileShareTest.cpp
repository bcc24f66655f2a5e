// Exclusive opens as the resident modes' queue file uses them: refused while another process or
// another thread holds the file exclusively, granted once it lets go; shared opens take no lock.
// Files made new (uploads) never open a name that is already taken.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

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

// Upload files in a shared TempDir: a name that is taken, by a file or by a planted link, is
// never opened (the link's target keeps its bytes); a free name gives a private new file.
TEST(FileShare, CreateNewNeverOpensWhatIsThere) {
    TempDir dir;
    const std::string target = dir / "victim", link = dir / "123.tmp", taken = dir / "456.tmp";
    MakeFile(target, "precious");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    ASSERT_EQ(::symlink((dir / "nowhere").c_str(), (dir / "dangling.tmp").c_str()), 0);
    MakeFile(taken, "other request");
    EXPECT_EQ(TFileStream::CreateNew(link), nullptr);
    EXPECT_EQ(TFileStream::CreateNew(dir / "dangling.tmp"), nullptr);
    EXPECT_EQ(TFileStream::CreateNew(taken), nullptr);
    EXPECT_FALSE(std::ifstream(dir / "nowhere").good());  // the dangling link made nothing
    std::ifstream in(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious");

    auto fresh = TFileStream::CreateNew(dir / "789.tmp");
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->Write("data", 4), 4);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "789.tmp").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_THROW(TFileStream::CreateNew(dir / "no-such-folder/1.tmp"), EFCreateError);
}
