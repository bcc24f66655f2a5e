// A real MTA as relay for the benchmarks: Debian's postfix on a free loopback port from a config
// folder of its own (queue and data folders inside it), every mail discarded once queued.
#pragma once

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "ChildProcess.h"
#include "WebServer.h"

namespace velmora::bench {

// The Debian packages only the benchmarks use (bench/packages-bench.txt), installed through the
// project's installer when one is missing; false when that fails.
inline bool InstallBenchPackages(const std::string& sourceDir) {
    test::TChildRun run;
    run.Args = {"/bin/bash", sourceDir + "/tools/install-deps.sh", sourceDir + "/bench/packages-bench.txt"};
    run.Env = test::InheritedEnvironment();
    run.TimeoutMs = 900000;
    test::TChildResult r = test::RunChild(run);
    if (r.ExitCode != 0) std::fprintf(stderr, "installing the benchmark packages failed:\n%s\n", r.Out.c_str());
    return r.ExitCode == 0;
}

class PostfixRelay {
public:
    // Writes main.cf and master.cf (the smtpd on 127.0.0.1:PORT and only the services it and the
    // queue manager need, no local delivery, no pickup) and starts the master. Ok() says whether
    // it listens.
    PostfixRelay() {
        char tmpl[] = "/tmp/velmora-postfix-XXXXXX";
        if (!::mkdtemp(tmpl)) return;
        FDir = tmpl;
        ::chmod(tmpl, 0755);
        FPort = test::FreeLoopbackPort();
        std::ofstream(FDir + "/main.cf") << MainCf();
        std::ofstream(FDir + "/master.cf") << MasterCf();
        // The queue belongs to root (postfix makes its folders inside), the data folder to postfix.
        std::filesystem::create_directories(FDir + "/queue");
        std::filesystem::create_directories(FDir + "/data");
        test::TChildRun own;
        own.Args = {"/bin/chown", "postfix", FDir + "/data"};
        own.Env = test::InheritedEnvironment();
        test::RunChild(own);
        FOk = Postfix("start") == 0 && test::WaitForListener("127.0.0.1:" + std::to_string(FPort));
    }
    // postfix stop; the master by its pid when that did not end it; then the folder.
    ~PostfixRelay() {
        if (FDir.empty()) return;
        const int pid = MasterPid();
        if (Postfix("stop") != 0 || !Ended(pid)) {
            if (pid > 0) ::kill(pid, SIGKILL);
        }
        std::error_code ec;
        std::filesystem::remove_all(FDir, ec);
    }
    PostfixRelay(const PostfixRelay&) = delete;
    PostfixRelay& operator=(const PostfixRelay&) = delete;

    bool Ok() const { return FOk; }
    int Port() const { return FPort; }
    // The mails the queue manager discarded so far, as its log file counts them.
    int Discarded() const {
        std::ifstream in(FDir + "/maillog");
        int n = 0;
        for (std::string line; std::getline(in, line);) n += line.find("status=sent") != std::string::npos;
        return n;
    }
    // Waits up to timeoutMs until count mails were discarded; the count then.
    int WaitDiscarded(int count, int timeoutMs) const {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int n = Discarded();
        for (; n < count && std::chrono::steady_clock::now() < end; n = Discarded())
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return n;
    }
    // The master and every process under it, for their CPU time.
    int MasterPid() const {
        std::ifstream in(FDir + "/data/master.pid");
        int pid = 0;
        in >> pid;
        return pid;
    }

private:
    std::string MainCf() const {
        return "compatibility_level = 3.6\n"
               "queue_directory = " + FDir + "/queue\n"
               "data_directory = " + FDir + "/data\n"
               "maillog_file = " + FDir + "/maillog\nmaillog_file_prefixes = " + FDir + "\n"
               "myhostname = relay.example.org\n"
               "mydestination =\nrelay_domains =\nalias_maps =\nalias_database =\n"
               "mynetworks = 127.0.0.0/8 [::1]/128\n"
               "smtpd_relay_restrictions = permit_mynetworks, reject_unauth_destination\n"
               "default_transport = discard\nrelay_transport = discard\nlocal_transport = discard\n"
               "inet_interfaces = loopback-only\ninet_protocols = ipv4\n"
               "smtpd_tls_security_level = none\nsmtp_tls_security_level = none\n"
               "biff = no\nsyslog_name = velmora-bench-postfix\n";
    }
    // One line per service: the smtpd on the loopback port and what it and qmgr call.
    std::string MasterCf() const {
        std::string cf = "127.0.0.1:" + std::to_string(FPort) + " inet n - n - - smtpd\n";
        // Service, private ("n": public), process limit ("0" where postfix demands no limit), program.
        const char* unixServices[][4] = {
            {"cleanup", "n", "0", "cleanup"}, {"rewrite", "-", "-", "trivial-rewrite"}, {"bounce", "-", "0", "bounce"},
            {"defer", "-", "0", "bounce"},    {"trace", "-", "0", "bounce"},            {"verify", "-", "1", "verify"},
            {"flush", "n", "0", "flush"},     {"proxymap", "-", "-", "proxymap"},       {"anvil", "-", "1", "anvil"},
            {"scache", "-", "1", "scache"},   {"discard", "-", "-", "discard"},         {"error", "-", "-", "error"},
            {"retry", "-", "-", "error"}};
        for (auto& s : unixServices)
            cf += std::string(s[0]) + " unix " + s[1] + " - n - " + s[2] + " " + s[3] + "\n";
        cf += "qmgr unix n - n 300 1 qmgr\n";
        cf += "postlog unix-dgram n - n - 1 postlogd\n";
        return cf;
    }
    int Postfix(const std::string& command) const {
        test::TChildRun run;
        run.Args = {"/usr/sbin/postfix", "-c", FDir, command};
        run.Env = test::InheritedEnvironment();
        run.TimeoutMs = 60000;
        test::TChildResult r = test::RunChild(run);
        if (r.ExitCode != 0) std::fprintf(stderr, "postfix %s:\n%s\n", command.c_str(), r.Out.c_str());
        return r.ExitCode;
    }
    static bool Ended(int pid) {
        for (int i = 0; pid > 0 && i < 100; ++i) {
            if (::kill(pid, 0) != 0) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return pid <= 0;
    }

    std::string FDir;
    int FPort = 0;
    bool FOk = false;
};

}  // namespace velmora::bench
