// A system log's socket in miniature for tests: a Unix datagram socket bound at a path of the
// test's own, read without waiting, so a test sees exactly the lines velmora handed to it.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace velmora::test {

class SyslogListener {
public:
    explicit SyslogListener(const std::string& path) {
        FFd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        path.copy(a.sun_path, sizeof a.sun_path - 1);
        if (FFd < 0 || bind(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) ADD_FAILURE() << "cannot bind " << path;
    }
    ~SyslogListener() { close(FFd); }
    SyslogListener(const SyslogListener&) = delete;
    SyslogListener& operator=(const SyslogListener&) = delete;
    // The datagrams that arrived so far, one per line handed over.
    std::vector<std::string> Lines() {
        std::vector<std::string> lines;
        char buf[65536];
        for (ssize_t n; (n = recv(FFd, buf, sizeof buf, MSG_DONTWAIT)) > 0;) lines.emplace_back(buf, static_cast<size_t>(n));
        return lines;
    }

private:
    int FFd = -1;
};

}  // namespace velmora::test
