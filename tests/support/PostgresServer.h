// A real PostgreSQL server for tests: Debian's postgresql, a cluster made by initdb in a temporary
// folder owned by the postgres account (the server refuses to run as root), started by pg_ctl on
// a free loopback port with a password login, and stopped by its process id.
#pragma once

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "WebServer.h"

namespace velmora::test {

class PostgresServer {
public:
    PostgresServer() {
        FPort = FreeLoopbackPort();
        char dir[] = "/tmp/velmora-pg-XXXXXX";
        if (!mkdtemp(dir)) throw std::runtime_error("no temporary folder");
        FDir = dir;
        const passwd* pg = getpwnam("postgres");
        if (!pg) throw std::runtime_error("no postgres account (install postgresql)");
        FUser = std::to_string(pg->pw_uid) + ":" + std::to_string(pg->pw_gid);
        WriteFile(FDir + "/pw", FPassword + "\n");
        if (chown(FDir.c_str(), pg->pw_uid, pg->pw_gid) != 0 || chown((FDir + "/pw").c_str(), pg->pw_uid, pg->pw_gid) != 0)
            throw std::runtime_error("temporary folder not given to postgres");
        Run({Bin("initdb"), "-D", FDir + "/data", "-U", "velmora", "--pwfile=" + FDir + "/pw", "--auth=scram-sha-256",
             "-E", "UTF8", "--no-sync"});
        Start();
        Run({Bin("createdb"), "-h", "127.0.0.1", "-p", std::to_string(FPort), "-U", "velmora", "forms"});
    }
    ~PostgresServer() {
        Stop();
        std::error_code ec;
        std::filesystem::remove_all(FDir, ec);
    }
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // pg_ctl waits until the server takes connections; its pid is the postmaster.pid's first line.
    void Start() {
        Run({Bin("pg_ctl"), "-D", FDir + "/data", "-l", FDir + "/server.log", "-w", "-o",
             "-p " + std::to_string(FPort) + " -c listen_addresses=127.0.0.1 -k " + FDir + " -c fsync=off", "start"});
        FPid = std::stoi(ReadWholeFile(FDir + "/data/postmaster.pid"));
    }
    // SIGINT is the server's fast shutdown: clients are cut off at once.
    void Stop() {
        if (FPid <= 0) return;
        ::kill(FPid, SIGINT);
        WaitUntilEnded(FPid, 30000);
        FPid = -1;
    }

    std::string Url() const {
        return "postgresql://velmora:" + FPassword + "@127.0.0.1:" + std::to_string(FPort) + "/forms";
    }
    std::string Log() const { return ReadWholeFile(FDir + "/server.log"); }

private:
    static std::string Bin(const std::string& name) {
        for (const auto& version : std::filesystem::directory_iterator("/usr/lib/postgresql"))
            if (std::filesystem::exists(version.path() / "bin" / name)) return (version.path() / "bin" / name).string();
        throw std::runtime_error(name + " not found (install postgresql)");
    }
    static void WriteFile(const std::string& path, const std::string& text) {
        FILE* f = fopen(path.c_str(), "w");
        if (!f) throw std::runtime_error(path + " cannot be written");
        fputs(text.c_str(), f);
        fclose(f);
    }
    // As the postgres account: setpriv changes the ids and runs the program itself.
    void Run(const std::vector<std::string>& args) const {
        TChildRun run;
        run.Args = {"/usr/bin/setpriv", "--reuid=" + FUser.substr(0, FUser.find(':')),
                    "--regid=" + FUser.substr(FUser.find(':') + 1), "--clear-groups", "--"};
        run.Args.insert(run.Args.end(), args.begin(), args.end());
        run.Env = {"PATH=/usr/bin:/bin", "PGPASSWORD=" + FPassword, "LANG=C.UTF-8"};
        run.TimeoutMs = 120000;
        run.WorkDir = FDir;
        TChildResult r = RunChild(run);
        if (r.ExitCode != 0) throw std::runtime_error(args[0] + " failed: " + r.Out + r.Err + ReadWholeFile(FDir + "/server.log"));
    }

    std::string FDir, FUser, FPassword = "pg-secret-for-tests";
    int FPort = 0;
    pid_t FPid = -1;
};

}  // namespace velmora::test
