// velmora-ini check against a table of sites with one fault each, against real relays (aiosmtpd,
// plain and with STARTTLS and a login) and a scripted one that refuses STARTTLS: each fault is
// reported with its fix, a sound site reports nothing, and no check ever sends mail.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "ChildProcess.h"
#include "FileBytes.h"
#include "Outbox.h"
#include "ScriptedRelay.h"
#include "SettingsFile.h"
#include "SiteSettings.h"
#include "SmtpSink.h"
#include "TempDir.h"
#include "TestCertificates.h"

using namespace velmora;
using namespace velmora::test;

namespace {

TChildResult Check(const std::string& dir, std::vector<std::string> more = {}) {
    TChildRun run;
    run.Args = {VELMORA_INI, "check", dir};
    run.Args.insert(run.Args.end(), more.begin(), more.end());
    run.TimeoutMs = 60000;
    return RunChild(run);
}

std::string Me() {
    passwd* p = getpwuid(geteuid());
    return p ? p->pw_name : "";
}

// The relays the sites below point at, started once for the whole table.
struct Relays {
    TempDir certDir;
    TestCertificates certs{certDir.Path()};
    SmtpSink plain;
    SmtpSink tls{[this] {
        std::vector<std::string> o = certs.SinkOptions();
        o.insert(o.end(), {"--login", "u:right-password"});
        return o;
    }()};
    ScriptedRelay noStartTls{{[](RelayConnection& c) {
        c.Send("220 relay.test ESMTP\r\n");
        c.Answer("250-relay.test\r\n250-STARTTLS\r\n250 8BITMIME\r\n");
        c.Answer("454 4.7.0 TLS not available due to local problem\r\n");
    }}};
};

// A sound site in dir, relaying to port with the given VELMORA.CONF.
void SoundSite(const std::string& dir, int port, const std::string& conf) {
    WriteSettingsFile(dir + "/VELMORA.INI", SiteMailSettings(port));
    WriteWholeFile(dir + "/VELMORA.ALL", "webmaster@example.org\r\n@example.net\r\n");
    std::filesystem::create_directory(dir + "/Log");
    chmod((dir + "/Log").c_str(), 0750);
    if (!conf.empty()) {
        WriteWholeFile(dir + "/VELMORA.CONF", conf);
        chmod((dir + "/VELMORA.CONF").c_str(), 0600);
    }
}

void SetField(const std::string& dir, TMailField field, const std::string& value) {
    TMailSettings s = *ReadSettingsFile(dir + "/VELMORA.INI");
    s.Set(field, value);
    WriteSettingsFile(dir + "/VELMORA.INI", s);
}

}  // namespace

TEST(SiteCheck, EachFaultIsReportedWithItsFix) {
    Relays relays;
    std::string tlsConf = "tls = required\ntls_ca_file = " + relays.certs.CaFile() + "\nsmtp_user = u\nsmtp_password = ";
    struct Case {
        const char* name;
        std::string conf;
        std::function<void(const std::string& dir)> breakIt;  // the one fault; null for a sound site
        std::vector<std::string> want;  // each in the output; empty: nothing found, exit 0
        std::string user = Me();
        int port = 0;  // 0: the plain relay
    };
    const std::string ca = relays.certs.CaFile();
    std::vector<Case> cases = {
        {"sound site, plain relay", "", nullptr, {}},
        {"sound site, STARTTLS and login", tlsConf + "right-password\n", nullptr, {}, Me(), relays.tls.Port()},
        {"no settings file", "", [](const std::string& d) { std::filesystem::remove(d + "/VELMORA.INI"); },
         {"settings: " , "VELMORA.INI is missing", "fix: velmora-ini create"}},
        {"two records", "", [](const std::string& d) {
             std::string r = ReadFileBytes(d + "/VELMORA.INI");
             WriteWholeFile(d + "/VELMORA.INI", r + r);
         }, {"holds 2 records: velmora uses the last", "fix: velmora-ini set"}},
        {"torn record", "", [](const std::string& d) { std::filesystem::resize_file(d + "/VELMORA.INI", 1000); },
         {"is 1000 bytes, not a whole number of 1188-byte records"}},
        {"field longer than it holds", "", [](const std::string& d) {
             std::string r = ReadFileBytes(d + "/VELMORA.INI");
             r[static_cast<size_t>(MailFieldInfo(TMailField::mailsubject).Offset)] = static_cast<char>(200);
             WriteWholeFile(d + "/VELMORA.INI", r);
         }, {"field mailsubject says it is 200 characters long, but holds at most 80", "fix: velmora-ini set"}},
        {"no recipient", "", [](const std::string& d) { SetField(d, TMailField::mailto, ""); }, {"mailto is empty"}},
        {"misspelt key", "smtp_pasword = x\n", nullptr,
         {"conf: VELMORA.CONF line 1: unknown key \"smtp_pasword\" ignored (did you mean smtp_password?)", "fix: correct the key"}},
        {"malformed value", "rate_limit_ipv6_prefix = 200\n", nullptr, {"bad value \"200\" for rate_limit_ipv6_prefix", "from 1 to 128"}},
        {"line without =", "\n# fine\npost only\n", nullptr, {"line 3: \"post only\" ignored: not key = value", "fix: write key = value"}},
        {"secret key's line without =", "smtp_password: wrong-password\n", nullptr,
         {"line 1: line of smtp_password (the rest not shown: a secret) ignored", "fix: write key = value"}},
        {"allowed-list line allowing nothing", "", [](const std::string& d) {
             WriteWholeFile(d + "/VELMORA.ALL", "webmaster@example.org\r\nsales@example.org, info; example.org\r\n");
         }, {"allowed-list: ", "line 2 entry \"info\" allows nothing", "fix: write whole addresses"}},
        {"template missing", "", [](const std::string& d) { SetField(d, TMailField::htmlfile, "thanks.htm"); },
         {"templates: htmlfile ", "thanks.htm is missing", "fix: put the answer page there"}},
        {"template outside the folder", "", [](const std::string& d) {
             std::filesystem::create_directory(d + "/../outside-" + std::filesystem::path(d).filename().string());
             std::string out = d + "/../outside-" + std::filesystem::path(d).filename().string() + "/thanks.htm";
             WriteWholeFile(out, "<p>thanks</p>");
             SetField(d, TMailField::htmlfile, out);
         }, {"lies outside the site folder", "fix: copy it into"}},
        {"world-readable password", tlsConf + "right-password\n",
         [](const std::string& d) { chmod((d + "/VELMORA.CONF").c_str(), 0644); },
         {"modes: ", "holds a password that other users can read", "fix: chmod 600"}, Me(), relays.tls.Port()},
        {"log readable by everyone", "", [](const std::string& d) { chmod((d + "/Log").c_str(), 0755); },
         {"Log holds visitors' addresses and form values and every local account may read it", "fix: chmod o-rwx"}},
        {"log not writable by the web server's account", "", [](const std::string& d) {
             chmod(d.c_str(), 0777);
             chmod((d + "/VELMORA.INI").c_str(), 0666);
         }, {"nobody cannot write ", "/Log: velmora tries beside the program", "fix: chown nobody"}, "nobody"},
        {"rate counts the web server's account cannot write", "rate_limit = 5/60\n", [](const std::string& d) {
             chmod((d + "/..").c_str(), 0755);
             chmod((d + "/VELMORA.CONF").c_str(), 0644);
             for (const char* mine : {"/VELMORA.INI", "/Log"}) chown((d + mine).c_str(), getpwnam("nobody")->pw_uid, 0);
         }, {"working-files: nobody cannot create and replace files in ", "(Permission denied) for the rate limit's counts (VELMORA.RATE)",
             "fix: velmora-ini site create"}, "nobody"},
        {"kept mail nobody flushes", "delivery = background\n", [](const std::string& d) {
             std::filesystem::create_directory(d + "/Outbox");
             chmod((d + "/Outbox").c_str(), 0700);
             WriteWholeFile(d + "/Outbox/" + OutboxName(std::to_string(UnixNow() - 7200) + "-1", 0, UnixNow() - 3600), "x");
         }, {"outbox: 1 kept mail in ", "nothing flushes the outbox", "fix: systemctl enable --now velmora-outbox@"}},
        {"folder a web server serves", "", nullptr, {"which web servers serve", "fix: move the site"}},
        {"shared store not running", "store = redis://127.0.0.1:" + std::to_string(UnusedPort()) + "\n", nullptr,
         {"store: store redis 127.0.0.1:", "fix: start the Redis server"}},
        {"sound site, store written in capitals", "store = FILE\n", nullptr, {}},
        {"shared store misspelt", "store = redis:/localhost\n", nullptr,
         {"store: store is not a Redis address: write file, redis://", "fix: correct store"}},
        {"relay not running", "", [](const std::string& d) { SetField(d, TMailField::mailport, std::to_string(UnusedPort())); },
         {"relay: relay 127.0.0.1:", "Connection refused", "fix: start the relay", "    connect 127.0.0.1:"}},
        {"relay refuses STARTTLS", "tls = required\n", nullptr,
         {"454 4.7.0 TLS not available", "fix: switch STARTTLS on at the relay", "    > STARTTLS", "    < 454"}, Me(),
         relays.noStartTls.Port()},
        {"wrong password on the TLS relay", tlsConf + "wrong-password\n", nullptr,
         {"535", "(it offers AUTH", "fix: correct smtp_user and smtp_password", "    TLS handshake with 127.0.0.1, certificate checked",
          "    > AUTH PLAIN ***"}, Me(), relays.tls.Port()},
        {"certificate of an unknown authority", "tls = required\n", nullptr,
         {"relay 127.0.0.1:", "fix: name the authority that signed the relay's certificate in tls_ca_file"}, Me(), relays.tls.Port()},
        {"certificate check off", "tls = required\ntls_verify = no\n", nullptr,
         {"tls_verify = no: any certificate is taken", "fix: set tls_verify = yes"}, Me(), relays.tls.Port()},
        {"login without TLS", "smtp_user = u\nsmtp_password = p\n", nullptr,
         {"No login to the relay 127.0.0.1 over a connection without TLS", "fix: set tls = required"}},
    };
    for (const Case& c : cases) {
        TempDir root;
        std::string dir = std::string(c.name) == "folder a web server serves" ? root / "public_html/forms" : root / "site";
        std::filesystem::create_directories(dir);
        SoundSite(dir, c.port ? c.port : relays.plain.Port(), c.conf);
        if (c.breakIt) c.breakIt(dir);
        TChildResult r = Check(dir, {"--user", c.user});
        if (c.want.empty()) {
            EXPECT_EQ(r.ExitCode, 0) << c.name;
            EXPECT_EQ(r.Out, "") << c.name;
        } else {
            EXPECT_EQ(r.ExitCode, 1) << c.name << ": " << r.Out << r.Err;
            for (const std::string& w : c.want) EXPECT_NE(r.Out.find(w), std::string::npos) << c.name << ": want " << w << "\n" << r.Out;
            // One fault, one report (the relay's dialogue lines aside).
            size_t reports = 0;
            for (size_t at = 0; at < r.Out.size(); at = r.Out.find('\n', at) + 1)
                if (r.Out.compare(at, 4, "    ") != 0) ++reports;
            EXPECT_EQ(reports, 1u) << c.name << ":\n" << r.Out;
        }
        EXPECT_EQ(r.Out.find("password="), std::string::npos);
        EXPECT_EQ(r.Out.find("wrong-password"), std::string::npos) << c.name;
    }
    // Every relay dialogue ended before MAIL FROM: nothing was sent, and the logins went as asked.
    EXPECT_EQ(relays.plain.MessageCount(), 0);
    EXPECT_EQ(relays.tls.MessageCount(), 0);
    std::string logins = ReadFileBytes(relays.tls.Dir() + "/auth.log");
    EXPECT_NE(logins.find("PLAIN u ok"), std::string::npos) << logins;
    EXPECT_NE(logins.find("PLAIN u refused"), std::string::npos) << logins;
    EXPECT_NE(relays.noStartTls.Transcript(0).find("STARTTLS\r\n"), std::string::npos);
    EXPECT_EQ(relays.noStartTls.Transcript(0).find("AUTH"), std::string::npos);
}

TEST(SiteCheck, JsonAndCommandLine) {
    TempDir root;
    SmtpSink relay;
    SoundSite(root.Path(), relay.Port(), "smtp_pasword = x\n");
    TChildResult r = Check(root.Path(), {"--json", "--user=" + Me()});
    EXPECT_EQ(r.ExitCode, 1) << r.Err;
    std::string parsed;
    WriteWholeFile(root / "out.json", r.Out);
    ASSERT_EQ(RunPython({"-c", "import json,sys; d=json.load(open(sys.argv[1])); p=d['problems'];"
                               "print(len(p), p[0]['area'], p[0]['fix'], p[0]['transcript'])", root / "out.json"}, parsed), 0)
        << r.Out;
    EXPECT_EQ(parsed, "1 conf correct the key's name, or remove the line []\n");

    struct Usage {
        std::vector<std::string> args;
        const char* want;
    } usages[] = {
        {{root / "nothere"}, "is not a folder"},
        {{root.Path(), "--frobnicate"}, "unexpected \"--frobnicate\""},
        {{root.Path(), root.Path()}, "unexpected"},
    };
    for (const Usage& u : usages) {
        TChildRun run;
        run.Args = {VELMORA_INI, "check"};
        run.Args.insert(run.Args.end(), u.args.begin(), u.args.end());
        TChildResult bad = RunChild(run);
        EXPECT_EQ(bad.ExitCode, 2) << u.want;
        EXPECT_NE(bad.Err.find(u.want), std::string::npos) << bad.Err;
    }
}
