// Detached starts as a CGI start launches the resident server: the new process has its own session,
// its standard streams on /dev/null, none of the starter's other descriptors, default signals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <thread>

#include "System.h"
#include "TempDir.h"

using namespace velmora;
using velmora::test::TempDir;

namespace {

std::map<std::string, int> ReadReport(const std::string& path) {
    std::map<std::string, int> facts;
    for (int i = 0; i < 1000 && ::access(path.c_str(), F_OK) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::ifstream in(path);
    std::string key;
    int value;
    while (in >> key >> value) facts[key] = value;
    return facts;
}

}  // namespace

TEST(DetachedStart, NewSessionNullStreamsNothingInherited) {
    TempDir dir;
    const std::string report = dir / "report";
    // What a web server hands its CGI: a pipe it waits on, and an ignored SIGPIPE.
    int leak[2];
    ASSERT_EQ(::pipe(leak), 0);
    struct sigaction ignore {}, old {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &old);

    const bool started = StartDetachedProcess(PLATFORM_CHILD, {"report", report});
    ::sigaction(SIGPIPE, &old, nullptr);
    ASSERT_TRUE(started);

    ::close(leak[0]);
    ::close(leak[1]);

    auto facts = ReadReport(report);
    ASSERT_EQ(facts.size(), 6u) << "no report from the started process";
    EXPECT_EQ(facts["session_leader"], 1);
    EXPECT_EQ(facts["stdin_null"], 1);
    EXPECT_EQ(facts["stdout_null"], 1);
    EXPECT_EQ(facts["stderr_null"], 1);
    EXPECT_EQ(facts["extra_fds"], 0);
    EXPECT_EQ(facts["sigpipe_default"], 1);
}

TEST(DetachedStart, MissingProgramIsReported) {
    TempDir dir;
    EXPECT_FALSE(StartDetachedProcess(dir / "no-such-program", {}));
}
