// End-to-end test site: lighttpd serving a folder with velmora as a CGI program, and the project's
// SMTP sink as its relay, both on free loopback ports, started by the test and stopped by pid.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <chrono>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "AppProcesses.h"

namespace velmora::test {

// One delivered mail: the bytes as the relay received them and the envelope.
struct DeliveredMail {
    std::string Raw;
    std::string Helo, MailFrom;
    std::vector<std::string> Recipients;

    // The value of the first header line of that name (case as written), "" when absent.
    std::string Header(const std::string& name) const {
        std::string head = Raw.substr(0, Raw.find("\r\n\r\n") + 2);
        std::string key = name + ": ";
        for (size_t pos = 0; pos < head.size();) {
            size_t end = head.find("\r\n", pos);
            if (end == std::string::npos) break;
            if (head.compare(pos, key.size(), key) == 0) return head.substr(pos + key.size(), end - pos - key.size());
            pos = end + 2;
        }
        return "";
    }
    // The body as sent, decoded when the header declares quoted-printable.
    std::string Body() const {
        size_t p = Raw.find("\r\n\r\n");
        std::string body = p == std::string::npos ? "" : Raw.substr(p + 4);
        return Header("Content-Transfer-Encoding") == "quoted-printable" ? DecodeQuotedPrintable(body) : body;
    }

    // "=XX" is the byte XX, "=" at a line end joins the lines.
    static std::string DecodeQuotedPrintable(const std::string& text) {
        std::string out;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] != '=') {
                out += text[i];
            } else if (text.compare(i + 1, 2, "\r\n") == 0) {
                i += 2;
            } else if (i + 2 < text.size()) {
                out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
                i += 2;
            }
        }
        return out;
    }
};

// An HTTP answer as curl saw it.
struct HttpAnswer {
    int Status = 0;
    std::string Headers;  // the header block, lines ending in CR LF
    std::string Body;
};

class VelmoraSite {
public:
    // Lays out www/, cgi-bin/ (with a copy of the program, so that it finds its side files there)
    // and mail/ in a fresh folder.
    explicit VelmoraSite(const std::string& velmoraProgram) {
        for (const char* d : {"www", "cgi-bin", "mail"}) ::mkdir((FDir / d).c_str(), 0777);
        RunResult r = RunProgram({"/bin/cp", velmoraProgram, CgiDir() + "/velmora"});
        if (r.ExitCode != 0) throw std::runtime_error("cannot copy velmora: " + r.Err);
    }
    ~VelmoraSite() { Stop(); }

    std::string Dir() const { return FDir.Path(); }
    std::string CgiDir() const { return FDir / "cgi-bin"; }
    std::string WwwDir() const { return FDir / "www"; }
    std::string MailDir() const { return FDir / "mail"; }
    std::string CgiFile(const std::string& name) const { return CgiDir() + "/" + name; }
    int WebPort() const { return FWebPort; }
    int SmtpPort() const { return FSmtpPort; }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(FWebPort) + path; }
    std::string ProgramUrl() const { return Url("/cgi-bin/velmora"); }

    // Starts the relay and the web server; a port taken in the meantime by another test is
    // retried with a new one. The relay answers RCPT TO for the refused addresses with 550.
    void Start(const std::vector<std::string>& refusedRecipients = {}) {
        for (int attempt = 0; attempt < 5 && !FSmtp.Running(); ++attempt) {
            FSmtpPort = FreeLoopbackPort();
            std::vector<std::string> argv{"/usr/bin/python3", VELMORA_SOURCE_DIR "/tools/smtp-sink.py",
                                          std::to_string(FSmtpPort), "--out", MailDir()};
            for (const auto& r : refusedRecipients) {
                argv.push_back("--refuse");
                argv.push_back(r);
            }
            FSmtp.Start(argv, FDir / "smtp.log");
            if (!WaitForPort(FSmtpPort, 10000) || !FSmtp.Running()) FSmtp.Stop();
        }
        for (int attempt = 0; attempt < 5 && !FWeb.Running(); ++attempt) {
            FWebPort = FreeLoopbackPort();
            WriteWholeFile(FDir / "lighttpd.conf", LighttpdConfig());
            FWeb.Start({"/usr/sbin/lighttpd", "-D", "-f", FDir / "lighttpd.conf"}, FDir / "lighttpd.log");
            if (!WaitForPort(FWebPort, 10000) || !FWeb.Running()) FWeb.Stop();
        }
        if (!FSmtp.Running() || !FWeb.Running())
            throw std::runtime_error("servers did not start: " + ReadWholeFile(FDir / "lighttpd.log") +
                                     ReadWholeFile(FDir / "smtp.log"));
    }
    void Stop() {
        FWeb.Stop();
        FSmtp.Stop();
    }

    // curl with the given arguments before the URL; -i shows the status and headers.
    HttpAnswer Curl(const std::vector<std::string>& args, const std::string& url) const {
        std::vector<std::string> argv{"/usr/bin/curl", "-s", "-i", "--max-time", "60"};
        argv.insert(argv.end(), args.begin(), args.end());
        argv.push_back(url);
        RunResult r = RunProgram(argv);
        HttpAnswer a;
        size_t end = r.Out.find("\r\n\r\n");
        if (r.ExitCode != 0 || end == std::string::npos) return a;
        a.Headers = r.Out.substr(0, end + 2);
        a.Body = r.Out.substr(end + 4);
        a.Status = std::atoi(a.Headers.substr(a.Headers.find(' ') + 1).c_str());
        return a;
    }
    // A URL-encoded post (the data as given, already encoded).
    HttpAnswer Post(const std::string& urlencoded) const { return Curl({"--data-binary", urlencoded}, ProgramUrl()); }
    // A multipart post: each entry "name=value" or "name=@file" as curl's -F takes it.
    HttpAnswer PostMultipart(const std::vector<std::string>& parts) const {
        std::vector<std::string> args;
        for (const auto& p : parts) {
            args.push_back("-F");
            args.push_back(p);
        }
        return Curl(args, ProgramUrl());
    }

    // The mails delivered so far, in order of arrival; waits up to timeoutMs for at least `count`.
    std::vector<DeliveredMail> Mails(size_t count = 0, int timeoutMs = 15000) const {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (CountMails() < count && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::vector<DeliveredMail> mails;
        for (size_t n = 1;; ++n) {
            std::string env = MailDir() + "/" + std::to_string(n) + ".env";
            if (::access(env.c_str(), F_OK) != 0) break;
            DeliveredMail m;
            m.Raw = ReadWholeFile(MailDir() + "/" + std::to_string(n) + ".eml");
            std::string lines = ReadWholeFile(env);
            for (size_t pos = 0; pos < lines.size();) {
                size_t nl = lines.find('\n', pos);
                std::string line = lines.substr(pos, nl - pos);
                if (line.rfind("HELO ", 0) == 0) m.Helo = line.substr(5);
                else if (line.rfind("FROM ", 0) == 0) m.MailFrom = line.substr(5);
                else if (line.rfind("TO ", 0) == 0) m.Recipients.push_back(line.substr(3));
                pos = nl == std::string::npos ? lines.size() : nl + 1;
            }
            mails.push_back(m);
        }
        return mails;
    }

    // What the program wrote to its log beside itself (the folder "Log" in cgi-bin when present).
    std::string Log() const {
        std::string inLogDir = ReadWholeFile(CgiDir() + "/Log/velmora.Log");
        return inLogDir.empty() ? ReadWholeFile(CgiDir() + "/velmora.Log") : inLogDir;
    }
    std::string ServerErrors() const { return ReadWholeFile(FDir / "error.log"); }

private:
    size_t CountMails() const {
        size_t n = 0;
        if (DIR* d = ::opendir(MailDir().c_str())) {
            while (dirent* e = ::readdir(d)) {
                std::string name = e->d_name;
                if (name.size() > 4 && name.compare(name.size() - 4, 4, ".env") == 0) ++n;
            }
            ::closedir(d);
        }
        return n;
    }

    std::string LighttpdConfig() const {
        std::string d = FDir.Path();
        return "server.document-root = \"" + d + "/www\"\n"
               "server.bind = \"127.0.0.1\"\n"
               "server.port = " + std::to_string(FWebPort) + "\n"
               "server.errorlog = \"" + d + "/error.log\"\n"
               "server.modules = ( \"mod_alias\", \"mod_cgi\" )\n"
               "server.max-connections = 256\n"
               "alias.url = ( \"/cgi-bin/\" => \"" + d + "/cgi-bin/\" )\n"
               "$HTTP[\"url\"] =~ \"^/cgi-bin/\" { cgi.assign = ( \"\" => \"\" ) }\n"
               "mimetype.assign = ( \".html\" => \"text/html\", \".htm\" => \"text/html\" )\n";
    }

    TempDir FDir;
    BackgroundProcess FSmtp, FWeb;
    int FSmtpPort = 0, FWebPort = 0;
};

}  // namespace velmora::test
