// A server as the processes that make it up (a master and the workers it started), for the
// benchmarks that weigh one side against another: their CPU time and memory (PSS) together.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ServerFigures.h"

namespace velmora::bench {

// pid and its direct children, from the parent field of /proc/PID/stat.
inline std::vector<int> WithChildren(int pid) {
    std::vector<int> pids{pid};
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
        const std::string name = e.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(e.path() / "stat");
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        size_t p = stat.rfind(')');
        // ") S PPID ...": the parent is the second field after the name.
        if (p != std::string::npos && p + 4 < stat.size() && std::atoi(stat.c_str() + p + 4) == pid)
            pids.push_back(std::atoi(name.c_str()));
    }
    return pids;
}

inline double CpuMicros(const std::vector<int>& pids) {
    double sum = 0;
    for (int pid : pids) sum += CpuMicros(pid);
    return sum;
}

// Proportional set size in kB, shared pages split among the processes that map them.
inline long PssKb(const std::vector<int>& pids) {
    long sum = 0;
    for (int pid : pids) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
        for (std::string line; std::getline(in, line);)
            if (line.rfind("Pss:", 0) == 0) sum += std::atol(line.c_str() + 4);
    }
    return sum;
}

}  // namespace velmora::bench
