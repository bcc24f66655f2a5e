// Name lookups against a resolver that takes queries and never answers: a child process, in a mount
// namespace of its own, sees a resolv.conf naming only the test's silent socket (30 s a query).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#include <filesystem>
#include <functional>

#include "HSmtp.h"
#include "HostLookup.h"
#include "HttpsPost.h"
#include "RedisConnection.h"
#include "System.h"

namespace velmora {
namespace {

constexpr int kBudgetMs = 1000, kBoundMs = 5000;  // the bound: far below the resolver's 30 s

// Whether attempt ended within the bound, failed by a lookup of host over its budget.
bool GaveUp(const std::string& host, const std::function<std::string()>& attempt) {
    const uint64_t start = TickCount();
    const std::string why = attempt();
    std::fprintf(stderr, "%s: %d ms, %s\n", host.c_str(), static_cast<int>(TickCount() - start), why.c_str());
    return TickCount() - start < kBoundMs && why.find("name lookup of " + host + " took longer than") != std::string::npos;
}

// Port 53 on a loopback address of the process's own (tests run side by side), and a resolv.conf.
struct TSilentResolver {
    const int pid = getpid(), fd = socket(AF_INET, SOCK_DGRAM, 0);
    const std::string conf = "/tmp/velmora-silent-resolv." + std::to_string(pid);
    bool ready = false;
    TSilentResolver() {
        sockaddr_in at{AF_INET, htons(53), {htonl(0x7F350000u | (pid / 254 % 256) << 8 | (pid % 254 + 1))}, {}};
        std::FILE* f = std::fopen(conf.c_str(), "w");
        ready = f && bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
                std::fprintf(f, "nameserver %s\noptions timeout:30 attempts:1\n", inet_ntoa(at.sin_addr)) > 0;
        if (f) std::fclose(f);
    }
    ~TSilentResolver() { close(fd), std::remove(conf.c_str()); }
    // check's answer, run in a child whose /etc/resolv.conf is this one.
    bool InChild(const std::function<bool()>& check) {
        std::fflush(nullptr);
        const pid_t child = fork();
        if (child == 0)
            _exit(unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                          mount(conf.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0 && check() ? 0 : 1);
        int status = -1;
        return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    // Answers the oldest query at last: the lookup its caller left ends where the sanitizers see it.
    bool AnswerLate() {
        char query[512];
        sockaddr_in from{};
        socklen_t size = sizeof from;
        const ssize_t n = recvfrom(fd, query, sizeof query, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &size);
        query[2] = static_cast<char>(query[2] | 0x80), query[3] = static_cast<char>(0x83);  // recursion available, no such name
        return n >= 12 && sendto(fd, query, n, 0, reinterpret_cast<sockaddr*>(&from), size) == n;
    }
};

TEST(SilentResolver, NumbersAndTheHostsFileAnswerAndEveryConnectionEndsAtItsBudget) {
    TSilentResolver dns;
    ASSERT_TRUE(dns.ready);
    // A name and its address; none: the lookup must give up.
    const char* cases[][2] = {{"127.0.0.1", "127.0.0.1"}, {"localhost", "127.0.0.1"}, {"relay.example.invalid", nullptr}};
    EXPECT_TRUE(dns.InChild([&] {
        bool all = true;
        for (const auto& [name, address] : cases) {
            const auto lookup = [&] { return LookupHost(name, TLookupFamily::IPv4, kBudgetMs); };
            all = (address ? lookup().Text == address : GaveUp(name, [&] { return lookup().Why; })) && all;
        }
        // The query reached the silent resolver; answered, the lookup left behind ends and its thread
        // goes, with no caller holding what it writes to.
        all = dns.AnswerLate() && all;
        auto threads = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}); };
        for (const uint64_t until = TickCount() + kBoundMs; threads() > 1 && TickCount() < until;) usleep(10000);
        all = threads() == 1 && all;
        TSmtpSendMail relay;
        relay.RemoteHost = "mail.example.invalid";
        TRedisConnection store;
        TRedisAddress server{"store.example.invalid", 6379, "", 0, "", ""};
        return GaveUp("mail.example.invalid", [&] { return relay.Send(1) ? "sent" : relay.GetErrorText(); }) &
               GaveUp("captcha.example.invalid", [] { return HttpsPost("https://captcha.example.invalid/", "", {}, kBudgetMs).Error; }) &
               GaveUp("store.example.invalid", [&] { return store.Open(server, std::chrono::steady_clock::now() + std::chrono::milliseconds(kBudgetMs)) ? "open" : store.Error(); }) &
               all;
    }));
}

}  // namespace
}  // namespace velmora
