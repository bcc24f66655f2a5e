// What a benchmark reads of a running server and of the machine: a process's CPU time so far, and
// the load average printed beside every row (other work on the machine moves the figures).
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace velmora::bench {

inline std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// User and system CPU time of process pid so far, in microseconds.
inline double CpuMicros(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t p = stat.rfind(')');
    if (p == std::string::npos) return 0;
    std::vector<std::string> fields;
    std::string field;
    for (char c : stat.substr(p + 2)) {
        if (c == ' ') fields.push_back(std::move(field)), field.clear();
        else field += c;
    }
    // After the name: state is field 3 of the whole line; utime and stime are fields 14 and 15.
    if (fields.size() < 13) return 0;
    return (std::atof(fields[11].c_str()) + std::atof(fields[12].c_str())) * 1e6 / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

}  // namespace velmora::bench
