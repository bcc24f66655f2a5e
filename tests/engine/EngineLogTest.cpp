// Tests of the log: where the file goes (CGI_LOG_DIR, "Log" beside the program, the program's
// folder), that unusable folders never make WriteLog fail, and that concurrent writers never
// interleave their lines.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "HttpEng.h"
#include "LogTestSupport.h"

namespace velmora {
namespace {

std::string UniqueMarker(const char* what) {
    return std::string(what) + "-" + std::to_string(getpid()) + "-" + std::to_string(time(nullptr));
}

std::string ProgramDir() { return ExtractFileDir(ModuleFileName()); }

TEST(EngineLog, LogFolderAndFallbacks) {
    // The folder named by CGI_LOG_DIR, file named after the program.
    test::TempDir logDir;
    std::string dir = test::UseLogDir(logDir);
    WriteLog("first message");
    EXPECT_TRUE(std::regex_match(test::ReadWholeFile(test::LogFileIn(dir)),
                                 test::LogLinePattern("first message")));
    // A message carrying a forged dated line stays one line: every control byte is a blank.
    unlink(test::LogFileIn(dir).c_str());
    WriteLog("missing a\r\n01/01/70 00:00:00,  7 : forged\x7f\x01\n");
    EXPECT_TRUE(std::regex_match(test::ReadWholeFile(test::LogFileIn(dir)),
                                 test::LogLinePattern("missing a  01/01/70 00:00:00,  7 : forged   ")));

    // Folders that cannot take the log: the line lands in the program's folder instead.
    std::string blocker = dir + "/plainfile";
    std::ofstream(blocker) << "x";
    const std::string unusable[] = {blocker, blocker + "/sub", "/proc/velmora-no/such"};
    for (const std::string& bad : unusable) {
        std::string marker = UniqueMarker("fallback");
        setenv("CGI_LOG_DIR", bad.c_str(), 1);
        EXPECT_NO_FATAL_FAILURE(WriteLog(marker));
        EXPECT_TRUE(Contains(test::ReadWholeFile(test::LogFileIn(ProgramDir())), marker)) << bad;
    }

    // A relative folder is taken beside the program, not in the current folder.
    std::string rel = "logrel-" + std::to_string(getpid());
    setenv("CGI_LOG_DIR", rel.c_str(), 1);
    std::string marker = UniqueMarker("relative");
    WriteLog(marker);
    EXPECT_TRUE(Contains(test::ReadWholeFile(test::LogFileIn(ProgramDir() + "/" + rel)), marker));
    unlink(test::LogFileIn(ProgramDir() + "/" + rel).c_str());
    rmdir((ProgramDir() + "/" + rel).c_str());

    // Without CGI_LOG_DIR: "Log" beside the program, made when missing.
    unsetenv("CGI_LOG_DIR");
    marker = UniqueMarker("default");
    WriteLog(marker);
    EXPECT_TRUE(DirectoryExists(ProgramDir() + "/Log"));
    EXPECT_TRUE(Contains(test::ReadWholeFile(test::LogFileIn(ProgramDir() + "/Log")), marker));
}

// Odd children write their lines five at a time (WriteLogLines): no other line comes between them.
TEST(EngineLog, LinesOfSeveralProcessesNeverInterleave) {
    test::TempDir logDir;
    std::string dir = test::UseLogDir(logDir);
    constexpr int kChildren = 6, kLines = 1500, kBatch = 5;
    const std::string filler(300, 'x');  // long lines make torn writes likely if they can happen
    std::vector<pid_t> kids;
    for (int c = 0; c < kChildren; ++c) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::vector<std::string> batch;
            for (int i = 0; i < kLines; ++i) {
                std::string text = "child " + std::to_string(c) + " line " + std::to_string(i) + " " + filler;
                if (c % 2 == 0) {
                    WriteLog(text);
                    continue;
                }
                batch.push_back(text);
                if (batch.size() == kBatch) {
                    WriteLogLines(batch);
                    batch.clear();
                }
            }
            _exit(0);
        }
        kids.push_back(pid);
    }
    for (pid_t pid : kids) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    std::string log = test::ReadWholeFile(test::LogFileIn(dir));
    std::regex line = test::LogLinePattern("child ([0-9]+) line ([0-9]+) " + filler);
    std::set<std::pair<int, int>> seen;
    std::vector<std::pair<int, int>> order;
    size_t start = 0;
    int bad = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        ASSERT_NE(end, std::string::npos) << "unterminated last line";
        std::string one = log.substr(start, end + 1 - start);
        std::smatch m;
        if (std::regex_match(one, m, line)) {
            seen.insert({std::stoi(m[2]), std::stoi(m[3])});
            order.push_back({std::stoi(m[2]), std::stoi(m[3])});
        } else {
            ++bad;
        }
        start = end + 1;
    }
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(seen.size(), static_cast<size_t>(kChildren * kLines));
    int split = 0;
    for (size_t at = 0; at < order.size(); ++at) {
        auto [child, n] = order[at];
        if (child % 2 == 0 || n % kBatch != 0) continue;
        for (int k = 1; k < kBatch; ++k)
            if (at + k >= order.size() || order[at + k] != std::make_pair(child, n + k)) ++split;
    }
    EXPECT_EQ(split, 0) << "lines of one WriteLogLines call were parted";
}

}  // namespace
}  // namespace velmora
