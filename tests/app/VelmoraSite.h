// End-to-end test site: lighttpd serving a folder with velmora as a CGI program, Apache loading
// velmora's library through its ISAPI module, or nginx, lighttpd or Apache in front of velmora as a
// FastCGI server (TWebServer), and the SMTP sink (SmtpSink) as relay.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "FileBytes.h"
#include "MailDecode.h"
#include "SettingsFile.h"
#include "SiteSettings.h"
#include "SmtpSink.h"
#include "WebServer.h"

namespace velmora::test {

// The heart of velmora's own thank-you page.
inline const std::string ThankYou = "Thank you.<br>We received your message.";

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
};

// An HTTP answer as curl saw it.
struct HttpAnswer {
    int Status = 0;
    std::string Headers;  // the header block, lines ending in CR LF
    std::string Body;
};

// velmora as a library loaded by Apache's ISAPI module instead of a CGI program of lighttpd.
struct IsapiSetup {
    std::string Library;  // libvelmora.so
    std::string Module;   // the built mod_isapi.so
};

// velmora as a FastCGI server behind the given web server: nginx passes to the Unix socket velmora
// listens on, lighttpd spawns velmora on a socket of its own, Apache passes to a loopback port.
struct FastCgiSetup {
    TServerKind Server;
    int Threads = 4;
};

// How often each number of the field n ("n=<number>" posts) arrived at the relay so far.
inline std::map<int, int> NumbersArrived(const SmtpSink& relay) {
    std::map<int, int> seen;
    for (int m = 1; m <= relay.MessageCount(); ++m) {
        std::string raw = ReadFileBytes(relay.Message(m));
        size_t p = raw.find("\r\nn:");
        if (p != std::string::npos) ++seen[std::atoi(raw.c_str() + p + 4)];
    }
    return seen;
}

class VelmoraSite {
public:
    // Starts the relay (answering RCPT TO for the refused addresses with 550) and lighttpd with a
    // copy of the program in its cgi-bin, where the program looks for its side files. With isapi,
    // Apache instead, with the library as isapi/velmora.isa, its side files beside it.
    // sinkOptions: further options of the relay (TLS, login).
    VelmoraSite(const std::string& velmoraProgram, const std::vector<std::string>& refusedRecipients,
                const std::vector<std::string>& sinkOptions = {}, const std::string& extraWebConfig = "",
                const IsapiSetup* isapi = nullptr, const FastCgiSetup* fastcgi = nullptr) {
        std::vector<std::string> options = sinkOptions;
        for (const auto& r : refusedRecipients) {
            options.push_back("--refuse");
            options.push_back(r);
        }
        FSmtp = std::make_unique<SmtpSink>(options);
        std::string why;
        if (fastcgi) {
            StartFastCgi(velmoraProgram, *fastcgi, extraWebConfig);
            return;
        }
        if (!isapi) {
            FWeb = TWebServer::Start(TServerKind::Lighttpd, velmoraProgram, why, extraWebConfig);
            if (!FWeb) throw std::runtime_error("lighttpd did not start: " + why);
            FProgramDir = FWeb->CgiBin();
            FProgramName = velmoraProgram.substr(velmoraProgram.rfind('/') + 1);
            FProgramPath = "/cgi-bin/" + FProgramName;
            return;
        }
        FWeb = TWebServer::Start(TServerKind::Apache, velmoraProgram, why, IsapiConfig(isapi->Module));
        if (!FWeb) throw std::runtime_error("apache2 did not start: " + why);
        // The server's worker user rewrites the settings file and keeps its log beside the library.
        FProgramDir = FWeb->Folder() + "/isapi";
        std::filesystem::create_directories(FProgramDir);
        std::filesystem::permissions(FProgramDir, std::filesystem::perms::all);
        std::filesystem::copy_file(isapi->Library, FProgramDir + "/velmora.isa");
        FProgramPath = "/isapi/velmora.isa";
        FProgramName = "velmora";
    }

    // Apache's configuration lines that hand every .isa file of the isapi folder to the module.
    static std::string IsapiConfig(const std::string& module) {
        return "LoadModule mime_module /usr/lib/apache2/modules/mod_mime.so\nTypesConfig /dev/null\n"
               "LoadModule isapi_module " + module + "\n"
               "Alias /isapi/ @DIR@/isapi/\n"
               "<Directory @DIR@/isapi>\n  Require all granted\n  Options +ExecCGI\n"
               "  AddHandler isapi-handler .isa\n</Directory>\n";
    }

    // Stops velmora the FastCGI server with SIGTERM; its exit code (0: a clean end), -1 when it
    // had to be killed or was none.
    int StopFastCgiServer() { return FFastCgi ? FFastCgi->Stop() : -1; }
    // Starts the FastCGI server again as it was first started (after StopFastCgiServer).
    void RestartFastCgiServer() {
        FFastCgi.reset();
        FFastCgi = std::make_unique<TBackground>(FFastCgiArgs, FWeb->OutputLog());
        if (!WaitForListener(FFastCgiAddress)) throw std::runtime_error("velmora did not listen again: " + ServerErrors());
    }
    // The FastCGI server this site started (nginx, Apache), for the benchmarks to measure; -1 if none.
    int FastCgiPid() const { return FFastCgi ? static_cast<int>(FFastCgi->Pid()) : -1; }

    // The usual test site: a settings file mailing form@example.org's posts to webmaster@example.org
    // through the sink, with the given Options, and an allowed list of that one address.
    void WriteStandardSettings(const std::string& options) const {
        TMailSettings s = test::SiteMailSettings(SmtpPort());
        s.Set(TMailField::Options, options);
        WriteSettingsFile(CgiFile("VELMORA.INI"), s);
        WriteWholeFile(CgiFile("VELMORA.ALL"), "webmaster@example.org\r\n");
    }

    std::string Dir() const { return FWeb->Folder(); }
    std::string WwwDir() const { return FWeb->Folder() + "/www"; }
    // A file beside the program (the CGI program or the library).
    std::string CgiFile(const std::string& name) const { return FProgramDir + "/" + name; }
    int SmtpPort() const { return FSmtp->Port(); }
    const SmtpSink& Smtp() const { return *FSmtp; }
    std::string Url(const std::string& path) const { return FWeb->BaseUrl() + path; }
    std::string ProgramUrl() const { return Url(FProgramPath); }

    // curl with the given arguments before the URL.
    HttpAnswer Curl(std::vector<std::string> args, const std::string& url) const {
        args.push_back(url);
        std::string out = test::Curl(args);
        HttpAnswer a;
        size_t end = out.find("\r\n\r\n");
        if (end == std::string::npos) return a;
        a.Headers = out.substr(0, end + 2);
        a.Body = out.substr(end + 4);
        a.Status = std::atoi(a.Headers.substr(a.Headers.find(' ') + 1).c_str());
        return a;
    }
    // A URL-encoded post (the data as given, already encoded).
    HttpAnswer Post(const std::string& urlencoded) const { return Curl({"--data-binary", urlencoded}, ProgramUrl()); }
    // Posts n forms ("Post=<i>") at the same time; returns how many were answered with the thank-you page.
    int PostAtOnce(int n) const {
        std::vector<std::thread> posts;
        std::atomic<int> thanked{0};
        for (int i = 0; i < n; ++i)
            posts.emplace_back([&, i] {
                if (Post("Post=" + std::to_string(i)).Body.find(ThankYou) != std::string::npos) ++thanked;
            });
        for (auto& t : posts) t.join();
        return thanked;
    }
    // A multipart post: each entry "name=value" or "name=@file" as curl's -F takes it.
    HttpAnswer PostMultipart(const std::vector<std::string>& parts) const {
        std::vector<std::string> args;
        for (const auto& p : parts) {
            args.push_back("-F");
            args.push_back(p);
        }
        return Curl(args, ProgramUrl());
    }

    // A multipart post of a body written by hand (boundary "XyZ"), for parts curl's -F will not make.
    HttpAnswer PostMultipartBody(const std::string& body) const {
        WriteWholeFile(Dir() + "/multipart-body", body);
        return Curl({"-H", "Content-Type: multipart/form-data; boundary=XyZ", "--data-binary", "@" + Dir() + "/multipart-body"},
                    ProgramUrl());
    }

    // The mails delivered so far, in order of arrival; waits up to timeoutMs for at least `count`.
    std::vector<DeliveredMail> Mails(size_t count = 0, int timeoutMs = 15000) const {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (static_cast<size_t>(FSmtp->MessageCount()) < count && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::vector<DeliveredMail> mails;
        for (int n = 1, last = FSmtp->MessageCount(); n <= last; ++n) {
            DeliveredMail m;
            m.Raw = ReadWholeFile(FSmtp->Message(n));
            std::string envelope = ReadWholeFile(FSmtp->Envelope(n));
            m.Helo = JsonStrings(envelope, "helo").at(0);
            m.MailFrom = JsonStrings(envelope, "mail_from").at(0);
            m.Recipients = JsonStrings(envelope, "rcpt_tos");
            mails.push_back(m);
        }
        return mails;
    }

    // What the program wrote to its log ("Log" beside it).
    const std::string& ProgramName() const { return FProgramName; }
    std::string Log() const { return ReadWholeFile(CgiFile("Log/" + FProgramName + ".Log")); }
    // What the CGI program wrote to its standard error (lighttpd passes its own on), and the
    // web server's error log.
    std::string ServerErrors() const { return ReadWholeFile(FWeb->OutputLog()) + ReadWholeFile(FWeb->ErrorLog()); }

private:
    void StartFastCgi(const std::string& program, const FastCgiSetup& setup, const std::string& extraWebConfig) {
        FProgramName = program.substr(program.rfind('/') + 1);
        FProgramPath = "/fcgi/" + FProgramName;
        std::string threads = "--threads=" + std::to_string(setup.Threads);
        std::string config = extraWebConfig;
        std::string address;
        if (setup.Server == TServerKind::Nginx) {
            address = "@DIR@/fcgi.sock";
            config += "location /fcgi/ { include /etc/nginx/fastcgi_params; fastcgi_pass unix:@DIR@/fcgi.sock; }\n";
        } else if (setup.Server == TServerKind::Apache) {
            address = "127.0.0.1:" + std::to_string(FreeLoopbackPort());
            config += "LoadModule proxy_module /usr/lib/apache2/modules/mod_proxy.so\n"
                      "LoadModule proxy_fcgi_module /usr/lib/apache2/modules/mod_proxy_fcgi.so\n"
                      "ProxyPass /fcgi/" + FProgramName + " fcgi://" + address + "/\n";
        } else {
            config += "server.modules += ( \"mod_fastcgi\" )\n"
                      "fastcgi.server = ( \"/fcgi/" + FProgramName + "\" => (( \"socket\" => \"@DIR@/fcgi.sock\", "
                      "\"bin-path\" => \"@DIR@/cgi-bin/" + FProgramName + " " + threads + "\", \"max-procs\" => 1, "
                      "\"check-local\" => \"disable\" )) )\n";
        }
        FWeb = TWebServer::Start(setup.Server, program, why_, config);
        if (!FWeb) throw std::runtime_error("web server did not start: " + why_);
        FProgramDir = FWeb->CgiBin();
        if (address.empty()) return;  // lighttpd runs it
        if (address[0] == '@') address = FWeb->Folder() + address.substr(5);
        FFastCgiArgs = {FProgramDir + "/" + FProgramName, "--fastcgi=" + address, threads};
        FFastCgiAddress = address;
        FFastCgi = std::make_unique<TBackground>(FFastCgiArgs, FWeb->OutputLog());
        if (!WaitForListener(address)) throw std::runtime_error("velmora did not listen on " + address + ": " + ServerErrors());
    }

    // The strings of one key of the sink's envelope record: "key": "x" or "key": ["a", "b"].
    static std::vector<std::string> JsonStrings(const std::string& json, const std::string& key) {
        std::vector<std::string> values;
        size_t p = json.find("\"" + key + "\":");
        if (p == std::string::npos) return values;
        p = json.find_first_not_of(' ', p + key.size() + 3);
        if (p == std::string::npos || (json[p] != '[' && json[p] != '"')) return values;  // null
        bool list = json[p] == '[';
        for (p = json.find_first_of("\"]", p); p != std::string::npos && json[p] == '"'; p = json.find_first_of("\"]", p)) {
            std::string v;
            for (++p; p < json.size() && json[p] != '"'; ++p) {
                if (json[p] == '\\' && json[p + 1] == 'u') {
                    v += static_cast<char>(std::stoi(json.substr(p + 2, 4), nullptr, 16));
                    p += 5;
                } else {
                    if (json[p] == '\\') ++p;
                    v += json[p];
                }
            }
            values.push_back(v);
            ++p;
            if (!list) break;
        }
        return values;
    }

    std::unique_ptr<SmtpSink> FSmtp;
    std::unique_ptr<TWebServer> FWeb;
    std::unique_ptr<TBackground> FFastCgi;
    std::string why_;
    std::vector<std::string> FFastCgiArgs;
    std::string FFastCgiAddress;
    std::string FProgramDir, FProgramPath, FProgramName;
};

}  // namespace velmora::test
