// Load from wrk for the benchmarks that drive a real web server: requests per second, p90 latency
// and failures of a url-encoded post; and the side files of a velmora site those posts reach.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "FileBytes.h"
#include "SettingsFile.h"
#include "SiteSettings.h"

namespace velmora::bench {

struct WrkFigures {
    double RequestsPerSecond = 0;
    long Requests = 0;  // answered in all
    std::string P90;
    std::string Failures;  // wrk's count of errors and non-2xx answers, when any
};

inline std::string LineAfter(const std::string& text, const std::string& key) {
    size_t p = text.find(key);
    if (p == std::string::npos) return "";
    size_t end = text.find('\n', p);
    return text.substr(p + key.size(), end - p - key.size());
}

// wrk with two threads (one for a single connection) and 8 connections for the given seconds,
// running script against url.
inline WrkFigures Wrk(const std::string& url, const std::string& script, int seconds, int connections = 8) {
    test::TChildRun run;
    run.Args = {"/usr/bin/wrk", connections == 1 ? "-t1" : "-t2", "-c" + std::to_string(connections),
                "-d" + std::to_string(seconds) + "s", "--timeout", "30s",
                "--latency", "-s", script, url};
    run.Env = test::InheritedEnvironment();
    run.TimeoutMs = (seconds + 40) * 1000;
    std::string out = test::RunChild(run).Out;
    WrkFigures f;
    f.RequestsPerSecond = std::atof(LineAfter(out, "Requests/sec:").c_str());
    size_t done = out.find(" requests in ");
    if (done != std::string::npos) f.Requests = std::atol(out.c_str() + out.rfind('\n', done) + 1);
    std::string p90 = LineAfter(out, "     90%");
    f.P90 = p90.substr(p90.find_first_not_of(' ') == std::string::npos ? 0 : p90.find_first_not_of(' '));
    f.Failures = LineAfter(out, "Non-2xx or 3xx responses:") + LineAfter(out, "Socket errors:");
    if (f.RequestsPerSecond == 0) std::fprintf(stderr, "wrk said:\n%s\n", out.c_str());
    return f;
}

// A wrk script, dir/name.lua, posting body as a url-encoded form.
inline std::string PostScript(const std::string& dir, const std::string& name, const std::string& body) {
    std::string path = dir + "/" + name + ".lua";
    std::ofstream(path) << "wrk.method = \"POST\"\nwrk.body = \"" << body
                        << "\"\nwrk.headers[\"Content-Type\"] = \"application/x-www-form-urlencoded\"\n";
    return path;
}

// A settings file mailing to the relay on smtpPort, and an allowed list with its one recipient.
inline void WriteSideFiles(const std::string& dir, int smtpPort) {
    TMailSettings s = test::SiteMailSettings(smtpPort);
    WriteSettingsFile(dir + "/VELMORA.INI", s);
    test::WriteWholeFile(dir + "/VELMORA.ALL", "webmaster@example.org\r\n");
}

}  // namespace velmora::bench
