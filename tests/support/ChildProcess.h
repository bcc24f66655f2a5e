// Runs a program as a child process with a given environment and standard input, collects its
// output, and kills it (by its own pid) when it outlives a time limit: a test never hangs on it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace velmora::test {

struct TChildRun {
    std::vector<std::string> Args;  // Args[0] is the program's path
    // NAME=VALUE lines; the child gets exactly these (no inherited environment).
    std::vector<std::string> Env;
    std::string Input;               // written to the child's standard input, which is then closed
    int TimeoutMs = 20000;
    std::string WorkDir;             // empty: the test's own
};

struct TChildResult {
    bool Started = false;
    bool TimedOut = false;   // the child was killed at the time limit
    int ExitCode = -1;       // valid when it exited
    int Signal = 0;          // the signal that ended it, if any
    size_t InputWritten = 0; // bytes of Input the child took before it closed its standard input
    std::string Out;
    std::string Err;
};

TChildResult RunChild(const TChildRun& run);

// The running processes of this program file (its full path), children of ours or not.
std::vector<pid_t> ProcessesOf(const std::string& program);

// Waits until process pid (a child of ours or not) has ended or is only a zombie, at most
// timeoutMs; false when it still runs then.
bool WaitUntilEnded(pid_t pid, int timeoutMs = 300000);

// The environment lines of the test process itself, for children that need PATH and the like.
std::vector<std::string> InheritedEnvironment();

}  // namespace velmora::test
