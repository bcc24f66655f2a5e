// velmora under lighttpd against posts a hostile visitor would send: each case is a way the
// program could be abused, checked through the real web server and relay.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "ChildProcess.h"
#include "SettingsFile.h"
#include "SiteSettings.h"
#include "UploadFileName.h"
#include "VelmoraSite.h"

using namespace velmora;
using namespace velmora::test;

namespace {

std::string VelmoraName() {
    const std::string path = VELMORA_PROGRAM;
    return path.substr(path.rfind('/') + 1);
}

const std::string ThankYouPage =
    "<HTML><HEAD><TITLE>Message</TITLE></HEAD><BODY>"
    "<center>Thank you.<br>We received your message.</center></BODY></HTML>";

class HostileClient : public ::testing::Test {
protected:
    void SetUp() override {
        site = std::make_unique<VelmoraSite>(VELMORA_PROGRAM, std::vector<std::string>{});
        TMailSettings s = test::SiteMailSettings(site->SmtpPort());
        s.Set(TMailField::Options, "nn");
        WriteSettingsFile(site->CgiFile("VELMORA.INI"), s);
        WriteWholeFile(site->CgiFile("VELMORA.ALL"), "webmaster@example.org\r\n");
    }
    void TearDown() override {
        std::string errors = site->ServerErrors();
        EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
    }
    bool Logged(const std::string& text) const { return site->Log().find(text) != std::string::npos; }

    std::unique_ptr<VelmoraSite> site;
};

}  // namespace

TEST_F(HostileClient, FormChoosesTheRelayOnlyWhenTheSiteAllowsIt) {
    // Port 1 has no listener: a connection there would fail the send.
    const std::string post = "A=1&mailhost=127.0.0.1&mailport=1";
    EXPECT_EQ(site->Post(post).Body, ThankYouPage);
    ASSERT_EQ(site->Mails(1).size(), 1u);
    EXPECT_TRUE(Logged("Form field mailport \"1\" ignored")) << site->Log();

    WriteWholeFile(site->CgiFile("VELMORA.CONF"), "# this site's forms pick their relay\nform_relay = allow\n");
    HttpAnswer refused = site->Post(post);
    EXPECT_NE(refused.Body.find("unable to deliver mail : Connection refused"), std::string::npos) << refused.Body;
    EXPECT_EQ(site->Mails().size(), 1u);
}

TEST_F(HostileClient, TemplateMustBeAPageOfTheSite) {
    WriteWholeFile(site->CgiFile("ok.htm"), "<p>the site's page</p>");
    WriteWholeFile(site->CgiFile("notes.txt"), "private notes");
    ASSERT_EQ(::symlink("/etc/passwd", site->CgiFile("passwd.htm").c_str()), 0);
    ASSERT_EQ(::symlink("VELMORA.INI", site->CgiFile("settings.htm").c_str()), 0);
    site->Post("A=1");  // makes the log
    for (const std::string name : {"VELMORA.INI", "VELMORA.ALL", "velmora", "Log/velmora.Log", "notes.txt",
                                   "passwd.htm", "settings.htm", "Log"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(site->Post("A=1&htmlfile=" + name).Body, ThankYouPage);
        EXPECT_TRUE(Logged("Form field htmlfile \"" + name + "\" ignored")) << site->Log();
    }
    EXPECT_EQ(site->Post("A=1&htmlfile=ok.htm").Body, "<p>the site's page</p>");
}

TEST_F(HostileClient, RequestTextNeverBecomesHeaderLines) {
    // A template that starts with an entry, and one behind a byte-order mark.
    WriteWholeFile(site->CgiFile("entry.htm"), "%Name%, thank you");
    WriteWholeFile(site->CgiFile("bom.htm"), "\xEF\xBB\xBF%Name%<p>");
    const std::string planted = "Name=x%0D%0ASet-Cookie%3A+planted%3D1%0D%0ALocation%3A+http%3A%2F%2Fevil.example%2F%0D%0A%0D%0A";
    for (const std::string page : {"entry.htm", "bom.htm"}) {
        SCOPED_TRACE(page);
        HttpAnswer a = site->Post(planted + "&htmlfile=" + page);
        EXPECT_EQ(a.Status, 200);
        EXPECT_EQ(a.Headers.find("planted"), std::string::npos) << a.Headers;
        EXPECT_EQ(a.Headers.find("evil.example"), std::string::npos) << a.Headers;
        EXPECT_EQ(a.Body.rfind("x\r\nSet-Cookie: planted=1", 0), 0u) << a.Body;
    }
}

TEST_F(HostileClient, FormAboveTheReadLimitIsRefusedNotLost) {
    HttpAnswer a = site->Post("A=" + std::string(12000, 'x'));
    EXPECT_EQ(a.Status, 413);
    EXPECT_NE(a.Body.find("too large"), std::string::npos) << a.Body;
    EXPECT_TRUE(Logged("Form of 12002 bytes not read")) << site->Log();
    EXPECT_EQ(site->Post("A=1").Body, ThankYouPage);
    EXPECT_EQ(site->Mails(1).size(), 1u);
}

TEST_F(HostileClient, RedirectsOnlyToWebAddressesOfTheSite) {
    // Each address a form names, and whether the browser is sent there (else the thank-you page).
    const struct {
        std::string url;
        bool followed;
    } table[] = {
        {"javascript:alert(1)", false}, {"java%09script:alert(1)", false}, {"data:text/html,x", false},
        {"+JavaScript:x", false},       {"%5C%5Cevil.example%2Fx", false}, {"%2F%5Cevil.example", false},
        {"%2F%2Fevil.example", false},  {"+%2F%2Fevil.example", false},  {"evil.example%5Cx", false},
        {"%2Fthanks.html", true},       {"thanks.html%3Fa%3D1", true},     {"sub%2Fpage.html", true},
        {"http%3A%2F%2Fshop.example%2Fok", true}, {"https%3A%2F%2Fevil.example%2F", false},
        {"http%3A%5C%5Cevil.example", false},     {"HTTPS%3A%2F%2Fuser%40SHOP.example.%3A8443%2F", true},
        {"http%3A%2F%2Fshop.example%40evil.example%2F", false},
    };
    WriteWholeFile(site->CgiFile("VELMORA.CONF"), "redirect_hosts = shop.example, www.shop.example\n");
    for (const auto& row : table) {
        SCOPED_TRACE(row.url);
        HttpAnswer a = site->Post("A=1&htmlurl=" + row.url);
        EXPECT_EQ(a.Body.find("REFRESH") != std::string::npos, row.followed) << a.Body;
    }
    EXPECT_TRUE(Logged("Form field htmlurl \"\\\\evil.example/x\" ignored")) << site->Log();
    // Without the key any web address is followed, as before; "//host" still is not.
    WriteWholeFile(site->CgiFile("VELMORA.CONF"), "");
    EXPECT_NE(site->Post("A=1&htmlurl=https%3A%2F%2Fevil.example%2F").Body.find("URL=https://evil.example/\""),
              std::string::npos);
    EXPECT_EQ(site->Post("A=1&htmlurl=%2F%2Fevil.example").Body, ThankYouPage);
}

TEST_F(HostileClient, AllowedListMatchesWholeAddressesOrDomains) {
    // Lines may hold several entries, as stored lists are written.
    WriteWholeFile(site->CgiFile("VELMORA.ALL"), "sales@example.com\r\n@example.org\r\n"
                                                 "boss@example.net, info@example.net; it@example.net\r\n"
                                                 "example.edu info\r\n\r\n");
    const std::string longLocal(69, 'x');  // with "@example.org" one byte more than the field holds
    const struct {
        std::string mailto;              // URL-encoded
        std::vector<std::string> mailed;  // the mail's recipients; none: refused
    } table[] = {
        {"sales%40example.com", {"sales@example.com"}}, {"+SALES%40Example.COM+", {"SALES@Example.COM"}},
        {"sales%40example.co", {}}, {"s%40example.com", {}}, {"ales%40example.com", {}},
        {"anyone%40example.org", {"anyone@example.org"}}, {"x%40sub.example.org", {}}, {"x%40example.org.evil", {}},
        {"a%40example.org%2Cb%40evil.example", {}}, {"%40example.org", {}}, {"example.org", {}},
        {"Info%40Example.NET", {"Info@Example.NET"}}, {"x%40example.edu", {"x@example.edu"}}, {"info", {}},
        {"boss%40example.net%3B+it%40example.net", {"boss@example.net", "it@example.net"}},
        {longLocal + "%40example.org", {}},
    };
    size_t mails = 0;
    for (const auto& row : table) {
        SCOPED_TRACE(row.mailto);
        HttpAnswer a = site->Post("A=1&mailto=" + row.mailto);
        const bool mailed = !row.mailed.empty();
        if (mailed) ++mails;
        EXPECT_EQ(a.Body == ThankYouPage, mailed) << a.Body;
        ASSERT_EQ(site->Mails(mails).size(), mails);
        if (mailed) {
            EXPECT_EQ(site->Mails().back().Recipients, row.mailed);
        } else {
            EXPECT_NE(a.Body.find("Destination EMail-Adress not allowed."), std::string::npos) << a.Body;
        }
    }
    // Only the entry that is no address or domain allows nothing; each program start says so once.
    const std::string log = site->Log();
    EXPECT_NE(log.find("Allowed list entry \"info\" in line \"example.edu info\" allows nothing"), std::string::npos) << log;
}

TEST_F(HostileClient, LogLinesHoldACutOfLongValues) {
    site->Post("A=1&mailcc=" + std::string(9000, 'v'));
    std::string log = site->Log();
    EXPECT_NE(log.find("Copy recipient \"" + std::string(200, 'v') + "...[cut, 9000 bytes]\""), std::string::npos) << log;
    EXPECT_LT(log.size(), 1000u);
}

TEST_F(HostileClient, RepeatedFieldNamesAreListedOnce) {
    std::string post;
    for (int i = 0; i < 600; ++i) post += "a=1&b=&";
    EXPECT_EQ(site->Post(post).Body, ThankYouPage);
    auto mails = site->Mails(1);
    ASSERT_EQ(mails.size(), 1u);
    std::string body = mails[0].Body();
    EXPECT_EQ(body.find("a:1\r\n1\r\n"), body.rfind("a:"));  // one entry, all values in it
    EXPECT_LT(body.size(), 10000u);
}

TEST_F(HostileClient, MultipartPreambleIsSkipped) {
    HttpAnswer a = site->PostMultipartBody("This is a preamble.\r\n--XyZ\r\nContent-Disposition: form-data; name=\"Name\"\r\n\r\n"
                                           "Anna\r\n--XyZ--\r\n");
    EXPECT_EQ(a.Body, ThankYouPage);
    auto mails = site->Mails(1);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_NE(mails[0].Body().find("Name:Anna"), std::string::npos) << mails[0].Body();
}

TEST_F(HostileClient, UploadFilesDoNotOutliveTheirRequest) {
    // Left by a killed request two hours ago, and one of a request still running.
    std::filesystem::create_directory(site->CgiFile("Temp"));
    const std::string stale = site->CgiFile("Temp/1234567old.tmp"), fresh = site->CgiFile("Temp/7654321new.tmp");
    WriteWholeFile(stale, "old");
    WriteWholeFile(fresh, "new");
    timeval twoHoursAgo[2] = {{::time(nullptr) - 7200, 0}, {::time(nullptr) - 7200, 0}};
    ASSERT_EQ(::utimes(stale.c_str(), twoHoursAgo), 0);
    // A relay that takes the connection and never greets holds the request; meanwhile the web
    // server ends the program with SIGTERM (as servers do at their time limit or on shutdown).
    int silent = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&addr), len), 0);
    ASSERT_EQ(::listen(silent, 4), 0);
    ASSERT_EQ(::getsockname(silent, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    WriteWholeFile(site->CgiFile("VELMORA.CONF"), "form_relay = allow\n");
    WriteWholeFile(site->Dir() + "/upload.txt", "uploaded text");
    // Upload files live in Temp/, never beside the program.
    auto uploads = [&] {
        std::vector<std::string> found;
        for (const std::string dir : {"", "Temp"})
            for (const auto& e : std::filesystem::directory_iterator(site->CgiFile(dir)))
                if (IsUploadFileName(e.path().filename().string())) found.push_back(dir + e.path().filename().string());
        return found;
    };
    std::thread post([&] {
        site->Curl({"--max-time", "600", "-F", "mailhost=127.0.0.1", "-F", "mailport=" + std::to_string(ntohs(addr.sin_port)),
                    "-F", "Note=@" + site->Dir() + "/upload.txt"},
                   site->ProgramUrl());
    });
    // The program connects to the relay only once the whole body is read and its upload written:
    // from then on it waits for a greeting that never comes. Waiting for that connection (not for a
    // while) makes the test the same on a loaded machine.
    pollfd reached{silent, POLLIN, 0};
    ASSERT_EQ(::poll(&reached, 1, 300000), 1) << "the program never connected to the relay";
    const int held = ::accept(silent, nullptr, nullptr);
    ASSERT_GE(held, 0);
    EXPECT_EQ(uploads().size(), 2u) << "the stale upload is swept, the running request's is made";
    const std::vector<pid_t> running = ProcessesOf(std::filesystem::canonical(site->CgiFile(VelmoraName())).string());
    EXPECT_EQ(running.size(), 1u);
    for (pid_t pid : running) ::kill(pid, SIGTERM);
    post.join();  // the web server answers once the program has ended
    for (pid_t pid : running) EXPECT_TRUE(WaitUntilEnded(pid));
    ::close(held);
    ::close(silent);
    EXPECT_EQ(uploads(), std::vector<std::string>{"Temp7654321new.tmp"});
}

TEST_F(HostileClient, UploadsByTheThousandAreRefusedBeforeTheyCost) {
    WriteWholeFile(site->CgiFile("VELMORA.CONF"), "attach_uploads = yes\n");
    auto post = [&](int files) {
        std::string body;
        for (int i = 0; i < files; ++i)
            body += "--XyZ\r\nContent-Disposition: form-data; name=\"f" + std::to_string(i) + "\"; filename=\"a" +
                    std::to_string(i) + ".txt\"\r\n\r\nx\r\n";
        body += "--XyZ--\r\n";
        return site->PostMultipartBody(body);
    };
    // The default allows 20 files; 21, or thousands, get 413 and send nothing.
    for (int files : {21, 5000}) {
        SCOPED_TRACE(files);
        HttpAnswer a = post(files);
        EXPECT_EQ(a.Status, 413);
        EXPECT_NE(a.Body.find("too many files: at most 20"), std::string::npos) << a.Body;
    }
    EXPECT_TRUE(Logged("Form with more than 20 files not read: nothing sent")) << site->Log();
    EXPECT_EQ(post(20).Body, ThankYouPage);
    WriteWholeFile(site->CgiFile("VELMORA.CONF"), "attach_uploads = yes\nmax_upload_files = 25\n");
    EXPECT_EQ(post(21).Body, ThankYouPage);
    auto mails = site->Mails(2);
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_NE(mails[1].Raw.find("filename=\"a20.txt\""), std::string::npos);
    EXPECT_EQ(site->Post("A=1").Body, ThankYouPage);  // a plain form is no business of the limit
    // Each request took its files with it.
    EXPECT_TRUE(std::filesystem::is_empty(site->CgiFile("Temp")));
}

TEST_F(HostileClient, TextFieldTooLongForTheDecoderRefusesThePost) {
    WriteWholeFile(site->CgiFile("VELMORA.CONF"), "attach_uploads = yes\n");
    auto post = [&](size_t bytes) {
        return site->PostMultipartBody("--XyZ\r\nContent-Disposition: form-data; name=\"Message\"\r\n\r\n" +
                                       std::string(bytes, 'm') + "\r\n--XyZ\r\nContent-Disposition: form-data; "
                                       "name=\"Name\"\r\n\r\nAnna\r\n--XyZ--\r\n");
    };
    HttpAnswer a = post(131072);
    EXPECT_EQ(a.Status, 413);
    EXPECT_NE(a.Body.find("A text field of the form is too long"), std::string::npos) << a.Body;
    EXPECT_TRUE(Logged("Form with a text field over 128 KB not read: nothing sent")) << site->Log();
    // One that fits is mailed whole; the refused post sent nothing.
    EXPECT_EQ(post(100000).Body, ThankYouPage);
    auto mails = site->Mails(1);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_NE(mails[0].Body().find("Message:" + std::string(100000, 'm')), std::string::npos);
}
