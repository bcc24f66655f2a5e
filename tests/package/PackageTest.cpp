// The built package, unpacked with dpkg-deb -x into a temporary root: its files lie where Debian
// and doc/install.md say, its man pages render cleanly and name every option key, systemd accepts
// its units, and its program mails a post as a CGI program under lighttpd and as a socket-activated
// FastCGI server (systemd-socket-activate) behind nginx, each from a site laid out by its velmora-ini,
// the last also as the units' account on a site made for it, with every working file in use.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "AltchaPeer.h"
#include "ChildProcess.h"
#include "FileBytes.h"
#include "SiteConfig.h"
#include "SmtpSink.h"
#include "TempDir.h"
#include "WebServer.h"

using namespace velmora;
using namespace velmora::test;

namespace {

const std::string Deb = std::string(VELMORA_SOURCE_DIR) + "/build-deb";

TChildResult RunTool(const std::vector<std::string>& args, int timeoutMs = 60000) {
    TChildRun run;
    run.Args = args;
    run.Env = InheritedEnvironment();
    run.TimeoutMs = timeoutMs;
    return RunChild(run);
}

std::string PackageFile() {
    for (const auto& e : std::filesystem::directory_iterator(Deb))
        if (e.path().extension() == ".deb") return e.path().string();
    return {};
}

// The package unpacked into a folder of its own, as dpkg would put it under "/".
class Unpacked : public ::testing::Test {
protected:
    void SetUp() override {
        deb = PackageFile();
        ASSERT_FALSE(deb.empty()) << "no package in " << Deb << ": run tools/build-deb.sh";
        TChildResult r = RunTool({"/usr/bin/dpkg-deb", "-x", deb, root.Path()});
        ASSERT_EQ(r.ExitCode, 0) << r.Err;
    }
    std::string Root(const std::string& path) const { return root.Path() + path; }
    // Lays out a site with the package's own velmora-ini, whose program is the package's.
    void MakeSite(const std::string& folder, int relayPort) {
        TChildResult r = RunTool({Root("/usr/bin/velmora-ini"), "site", "create", folder, "mailfrom=form@example.org",
                              "mailto=webmaster@example.org", "mailhost=127.0.0.1",
                              "mailport=" + std::to_string(relayPort)});
        ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    }
    std::string deb;
    TempDir root;
};

TEST_F(Unpacked, EveryFileLiesWhereTheSystemLooksForIt) {
    struct Case {
        const char* path;
        bool executable;
    } cases[] = {
        {"/usr/lib/velmora/velmora", true},
        {"/usr/lib/velmora/libvelmora.so", false},
        {"/usr/lib/velmora/velmora-tls.so", false},  // loaded, never run
        {"/usr/bin/velmora-ini", true},
        {"/usr/share/man/man8/velmora.8.gz", false},
        {"/usr/share/man/man8/velmora-ini.8.gz", false},
        {"/usr/share/man/man5/velmora.conf.5.gz", false},
        {"/lib/systemd/system/velmora-fastcgi@.socket", false},
        {"/lib/systemd/system/velmora-fastcgi@.service", false},
        {"/lib/systemd/system/velmora-outbox@.service", false},
        {"/lib/systemd/system/velmora-outbox@.timer", false},
        {"/usr/share/doc/velmora/examples/contact.html", false},
        {"/usr/share/doc/velmora/examples/VELMORA.CONF", false},
        {"/usr/share/doc/velmora/examples/VELMORA.ALL", false},
        {"/etc/logrotate.d/velmora", false},
    };
    for (const Case& c : cases) {
        struct stat st {};
        ASSERT_EQ(::stat(Root(c.path).c_str(), &st), 0) << c.path;
        EXPECT_TRUE(S_ISREG(st.st_mode)) << c.path;
        EXPECT_EQ((st.st_mode & 0111) != 0, c.executable) << c.path;
        EXPECT_EQ(st.st_mode & 0022, 0u) << c.path << " is writable by others";
    }
    // The front page and every document beside it, where its links lead (dh_compress may have
    // compressed a larger one).
    std::vector<std::string> documents = {"/usr/share/doc/velmora/README.md"};
    for (const auto& e : std::filesystem::directory_iterator(std::string(VELMORA_SOURCE_DIR) + "/doc"))
        if (e.path().extension() == ".md") documents.push_back("/usr/share/doc/velmora/doc/" + e.path().filename().string());
    EXPECT_GE(documents.size(), 2u);
    for (const std::string& document : documents) {
        struct stat st {};
        const bool there = ::stat(Root(document).c_str(), &st) == 0 || ::stat(Root(document + ".gz").c_str(), &st) == 0;
        EXPECT_TRUE(there && S_ISREG(st.st_mode)) << document << " is not in the package";
    }
    // Dependencies come from the libraries the programs link: the C library and OpenSSL's.
    TChildResult depends = RunTool({"/usr/bin/dpkg-deb", "-f", deb, "Depends"});
    EXPECT_NE(depends.Out.find("libc6"), std::string::npos) << depends.Out;
    EXPECT_NE(depends.Out.find("libssl3"), std::string::npos) << depends.Out;
}

// Every key velmora reads is documented in the man page and present, commented out, in the example.
TEST_F(Unpacked, ManPagesRenderCleanlyAndNameEveryKey) {
    std::string conf, ini;
    for (const char* page : {"/usr/share/man/man8/velmora.8.gz", "/usr/share/man/man8/velmora-ini.8.gz",
                             "/usr/share/man/man5/velmora.conf.5.gz"}) {
        TChildRun run;
        run.Args = {"/usr/bin/man", "--warnings", "-l", Root(page)};
        run.Env = {"PATH=/usr/bin:/bin", "LC_ALL=C.UTF-8", "MANWIDTH=80", "MANPAGER=cat", "PAGER=cat"};
        TChildResult r = RunChild(run);
        EXPECT_EQ(r.ExitCode, 0) << page << r.Err;
        EXPECT_EQ(r.Err, "") << page;
        EXPECT_NE(r.Out.find("SEE ALSO"), std::string::npos) << page;
        if (std::string(page).find("conf") != std::string::npos) conf = r.Out;
        // Justified lines hold runs of blanks between words: one blank each for the search.
        if (std::string(page).find("velmora-ini") != std::string::npos)
            for (char c : r.Out)
                if (c != ' ' || ini.empty() || ini.back() != ' ') ini += c;
    }
    // Every command the tool's own help lists has its entry in velmora-ini(8).
    const std::string help = RunTool({Root("/usr/bin/velmora-ini"), "--help"}).Out;
    size_t at = help.find("Commands:\n");
    ASSERT_NE(at, std::string::npos) << help;
    int commands = 0;
    for (size_t end; (end = help.find('\n', at + 1)) != std::string::npos && help.compare(end + 1, 2, "  ") == 0; at = end) {
        const std::string command = help.substr(end + 3, help.find(' ', end + 3) - end - 3);
        EXPECT_NE(ini.find("velmora-ini " + command), std::string::npos) << command << " is not in velmora-ini(8)";
        ++commands;
    }
    EXPECT_GE(commands, 6);
    const std::string example = ReadWholeFile(Root("/usr/share/doc/velmora/examples/VELMORA.CONF"));
    for (const TConfKey& key : SiteConfigKeys()) {
        const std::string name(key.Name);
        EXPECT_NE(conf.find("\n       " + name), std::string::npos) << name << " is not in velmora.conf(5)";
        EXPECT_NE(example.find("\n#" + name + " ="), std::string::npos) << name << " is not in the example VELMORA.CONF";
    }
}

// The units point at the unpacked program (systemd would look in "/"), with an instance each.
TEST_F(Unpacked, SystemdAcceptsTheUnits) {
    TempDir units;
    std::vector<std::string> args = {"/usr/bin/systemd-analyze", "verify", "--man=no"};
    for (const char* name : {"velmora-fastcgi@.socket", "velmora-fastcgi@.service", "velmora-outbox@.service",
                             "velmora-outbox@.timer"}) {
        std::string text = ReadWholeFile(Root(std::string("/lib/systemd/system/") + name));
        ASSERT_FALSE(text.empty()) << name;
        for (const std::string program : {"/usr/lib/velmora/velmora", "/usr/bin/velmora-ini"})
            for (size_t p = 0; (p = text.find(program, p)) != std::string::npos; p += root.Path().size() + program.size())
                text.insert(p, root.Path());
        std::ofstream(units / name) << text;
        std::string instance = name;
        instance.insert(instance.find('@') + 1, "srv-velmora-example");
        std::filesystem::create_symlink(units / name, units / instance);
        args.push_back(units / instance);
    }
    TChildResult r = RunTool(args);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    // Unknown keys and bad values are only warned about: none may be.
    EXPECT_EQ(r.Out + r.Err, "");
}

TEST_F(Unpacked, CgiProgramUnderLighttpdMailsAPost) {
    SmtpSink relay;
    std::string why;
    auto web = TWebServer::Start(TServerKind::Lighttpd, Root("/usr/lib/velmora/velmora"), why);
    ASSERT_TRUE(web) << why;
    MakeSite(web->CgiBin(), relay.Port());
    // The site's program is the package's, placed by site create over the server's copy.
    struct stat placed {}, packaged {};
    ASSERT_EQ(::stat((web->CgiBin() + "/velmora").c_str(), &placed), 0);
    ASSERT_EQ(::stat(Root("/usr/lib/velmora/velmora").c_str(), &packaged), 0);
    EXPECT_EQ(placed.st_size, packaged.st_size);
    std::string answer = Curl({"--data-binary", "Name=Anna&Note=from+lighttpd", web->BaseUrl() + "/cgi-bin/velmora"});
    EXPECT_NE(answer.find("HTTP/1.1 200"), std::string::npos) << answer;
    ASSERT_EQ(relay.MessageCount(), 1) << answer << ReadWholeFile(web->OutputLog());
    EXPECT_NE(ReadWholeFile(relay.Message(1)).find("from lighttpd"), std::string::npos);
}

// nginx passes to the socket systemd-socket-activate listens on; the first connection starts the
// package's program with that socket (LISTEN_FDS) and the site folder (--site), as the units do.
TEST_F(Unpacked, SocketActivatedFastCgiServerBehindNginxMailsAPost) {
    SmtpSink relay;
    TempDir sites;
    const std::string site = sites / "example";
    MakeSite(site, relay.Port());
    std::string why;
    auto web = TWebServer::Start(TServerKind::Nginx, Root("/usr/bin/velmora-ini"), why,
                                 "location = /forms/velmora { include /etc/nginx/fastcgi_params; "
                                 "fastcgi_pass unix:@DIR@/velmora.sock; }\n");
    ASSERT_TRUE(web) << why;
    const std::string socket = web->Folder() + "/velmora.sock";
    TBackground activator({"/usr/bin/systemd-socket-activate", "-l", socket, Root("/usr/lib/velmora/velmora"),
                           "--site=" + site},
                          sites / "activate.log");
    ASSERT_TRUE(WaitForListener(socket)) << ReadWholeFile(sites / "activate.log");
    // Posted where the package's example page posts, which is where the nginx lines of doc/install.md
    // listen.
    const std::string page = ReadWholeFile(Root("/usr/share/doc/velmora/examples/contact.html"));
    const size_t at = page.find("action=\"");
    ASSERT_NE(at, std::string::npos);
    const std::string action = page.substr(at + 8, page.find('"', at + 8) - at - 8);
    std::string answer = Curl({"--data-binary", "Name=Anna&Note=through+nginx", web->BaseUrl() + action});
    EXPECT_NE(answer.find("HTTP/1.1 200"), std::string::npos) << answer << ReadWholeFile(sites / "activate.log");
    ASSERT_EQ(relay.MessageCount(), 1) << answer << ReadWholeFile(sites / "activate.log");
    EXPECT_NE(ReadWholeFile(relay.Message(1)).find("through nginx"), std::string::npos);
    // The site's counter, not a copy beside the packaged program, counted the post.
    TChildResult show = RunTool({Root("/usr/bin/velmora-ini"), "show", site});
    EXPECT_NE(show.Out.find("Counter=1\n"), std::string::npos) << show.Out;
    EXPECT_FALSE(std::filesystem::exists(Root("/usr/lib/velmora/Log")));
    EXPECT_EQ(activator.Stop(), 0) << ReadWholeFile(sites / "activate.log");
}

// The FastCGI unit's account (www-data) on a site that site create --user laid out, in folders it
// makes: every option that writes working files counts, claims, keeps and attaches as that account.
TEST_F(Unpacked, UnprivilegedServerKeepsEveryWorkingFileOfItsSite) {
    std::string why;
    ASSERT_TRUE(InstallAltchaPeers(VELMORA_SOURCE_DIR, ALTCHA_PEERS_DIR, why)) << why;
    SmtpSink relay;
    TempDir sites;
    for (const std::string& folder : {root.Path(), sites.Path()}) ::chmod(folder.c_str(), 0755);
    const std::string site = sites / "srv/example";
    TChildResult made = RunTool({Root("/usr/bin/velmora-ini"), "site", "create", site, "--user", "www-data",
                                 "mailfrom=form@example.org", "mailto=webmaster@example.org", "mailhost=127.0.0.1",
                                 "mailport=" + std::to_string(relay.Port())});
    ASSERT_EQ(made.ExitCode, 0) << made.Out << made.Err;
    const std::string conf = site + "/VELMORA.CONF";
    WriteWholeFile(conf, "rate_limit = 3/3600\naltcha = required\naltcha_hmac_key = package-test-key\n"
                         "delivery = background\nattach_uploads = yes\n");
    // It holds a key: the account's alone, as velmora-ini check asks.
    ASSERT_EQ(::chmod(conf.c_str(), 0600) | ::chown(conf.c_str(), ::getpwnam("www-data")->pw_uid, ::getpwnam("www-data")->pw_gid), 0);
    auto web = TWebServer::Start(TServerKind::Nginx, Root("/usr/bin/velmora-ini"), why,
                                 "location = /forms/velmora { include /etc/nginx/fastcgi_params; "
                                 "fastcgi_pass unix:@DIR@/velmora.sock; }\n");
    ASSERT_TRUE(web) << why;
    const std::string socket = web->Folder() + "/velmora.sock", url = web->BaseUrl() + "/forms/velmora";
    TBackground activator({"/usr/bin/systemd-socket-activate", "-l", socket, "/usr/bin/setpriv", "--reuid=www-data",
                           "--regid=www-data", "--init-groups", Root("/usr/lib/velmora/velmora"), "--site=" + site},
                          sites / "activate.log");
    ASSERT_TRUE(WaitForListener(socket)) << ReadWholeFile(sites / "activate.log");
    auto solved = [&] {
        const std::string challenge = Curl({url + "?altcha"});
        return AltchaPeer(VELMORA_SOURCE_DIR, ALTCHA_PEERS_DIR, {"solve"}, challenge.substr(challenge.find("\r\n\r\n") + 4));
    };
    WriteWholeFile(sites / "note.txt", "an upload\n");
    const std::string first = solved();
    // An upload, the same solution again, a new one, then a post over the limit of three.
    const std::string answers[] = {
        Curl({"-H", "Expect:", "-F", "Name=Anna", "-F", "altcha=" + first, "-F", "file=@" + (sites / "note.txt"), url}),
        Curl({"--data-binary", "Name=Robot&altcha=" + PercentEncodeAll(first), url}),
        Curl({"--data-binary", "Name=Ben&altcha=" + PercentEncodeAll(solved()), url}),
        Curl({"--data-binary", "Name=Cleo&altcha=" + PercentEncodeAll(solved()), url}),
    };
    std::string log = ReadWholeFile(sites / "activate.log");
    for (const auto& file : std::filesystem::directory_iterator(site + "/Log")) log += ReadWholeFile(file.path());
    const char* wanted[] = {"HTTP/1.1 200", "HTTP/1.1 403", "HTTP/1.1 200", "HTTP/1.1 429"};
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(answers[i].find(wanted[i]), 0u) << i << ": " << answers[i] << log;
    // The sender thread delivers both mails that were thanked, the upload attached to the first.
    for (int wait = 0; wait < 400 && relay.MessageCount() < 2; ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(relay.MessageCount(), 2) << log;
    EXPECT_NE(ReadWholeFile(relay.Message(1)).find("note.txt"), std::string::npos);
    EXPECT_EQ(activator.Stop(), 0) << ReadWholeFile(sites / "activate.log");
}

}  // namespace
