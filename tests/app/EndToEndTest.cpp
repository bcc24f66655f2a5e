// velmora end to end: a CGI program of a real lighttpd, mailing through a real SMTP server, driven
// by curl and by headless Chromium; what the browser gets, what the relay gets, what the files hold.
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <thread>

#include "ChildProcess.h"
#include "SettingsFile.h"
#include "SiteSettings.h"
#include "VelmoraSite.h"

using namespace velmora;
using namespace velmora::test;

namespace {

const std::string ThankYouPage =
    "<HTML><HEAD><TITLE>Message</TITLE></HEAD><BODY>"
    "<center>Thank you.<br>We received your message.</center></BODY></HTML>";
const std::string TopLines = "<--- Top of form \r\n---------------->\r\n";
const std::string BottomLines = "<--- Bottom of form \r\n---------------->\r\n";
const std::string EmptyLine = "\r\n";  // every mail's text ends with one before the final "."
const std::string RefusedAtRelay = "refused@example.org";

class VelmoraEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        site = std::make_unique<VelmoraSite>(VELMORA_PROGRAM, std::vector<std::string>{RefusedAtRelay});
        WriteSettingsFile(Ini(), Settings());
        WriteWholeFile(site->CgiFile("VELMORA.ALL"),
                       "webmaster@example.org\r\nSales@Example.org\r\n support@example.org \r\ncopy@example.org\r\n");
    }
    void TearDown() override {
        // Sanitizer reports of the CGI program land in the web server's error log.
        std::string errors = site->ServerErrors();
        EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
    }

    std::string Ini() const { return site->CgiFile("VELMORA.INI"); }
    // The defaults of these tests: numbered subject, no date line (so bodies compare exactly).
    TMailSettings Settings() const {
        TMailSettings s = test::SiteMailSettings(site->SmtpPort());
        s.Set(TMailField::Options, "nj");
        return s;
    }
    int32_t Counter() const { return ReadSettingsFile(Ini())->Counter(); }
    void ChangeSettings(const std::function<void(TMailSettings&)>& change) {
        TMailSettings s = *ReadSettingsFile(Ini());
        change(s);
        WriteSettingsFile(Ini(), s);
    }

    std::unique_ptr<VelmoraSite> site;
};

}  // namespace

TEST_F(VelmoraEndToEnd, UrlencodedPostIsCountedMailedAndThanked) {
    HttpAnswer a = site->Post("Name=Anna+M%FCller&City=Bonn&mailto=webmaster%40example.org&Empty=");
    EXPECT_EQ(a.Status, 200);
    EXPECT_NE(a.Headers.find("text/html"), std::string::npos) << a.Headers;
    EXPECT_EQ(a.Body, ThankYouPage);

    auto mails = site->Mails(1);
    ASSERT_EQ(mails.size(), 1u);
    const DeliveredMail& m = mails[0];
    EXPECT_EQ(m.MailFrom, "form@example.org");
    EXPECT_EQ(m.Recipients, std::vector<std::string>{"webmaster@example.org"});
    EXPECT_EQ(m.Header("From"), "<form@example.org>");
    EXPECT_EQ(m.Header("To"), "<webmaster@example.org>");
    EXPECT_EQ(m.Header("Subject"), "Web form #1 ");
    EXPECT_EQ(m.Header("CC"), "");  // no copy recipient: the line is left out
    EXPECT_EQ(m.Header("Content-Transfer-Encoding"), "quoted-printable");
    // Fields in posting order; the lower-case control field is listed, the empty one is not.
    EXPECT_EQ(m.Body(), TopLines + "Name:Anna M\xFCller\r\nCity:Bonn\r\nmailto:webmaster@example.org\r\n" +
                            BottomLines + EmptyLine)
        << m.Raw;
    EXPECT_EQ(Counter(), 1);

    // The next post is the next number; the stored record is otherwise untouched.
    site->Post("Name=Ben");
    ASSERT_EQ(site->Mails(2).size(), 2u);
    EXPECT_EQ(site->Mails()[1].Header("Subject"), "Web form #2 ");
    TMailSettings now = *ReadSettingsFile(Ini());
    TMailSettings want = Settings();
    want.SetCounter(2);
    EXPECT_EQ(now.ToBytes(), want.ToBytes());
}

TEST_F(VelmoraEndToEnd, MultipartPostGivesTheSameMail) {
    WriteWholeFile(site->Dir() + "/note.txt", "attached text\n");
    HttpAnswer a = site->PostMultipart({"Name=Anna", "City=Bonn", "mailsubject=Upload", "Note=@" + site->Dir() + "/note.txt"});
    EXPECT_EQ(a.Status, 200);
    EXPECT_EQ(a.Body, ThankYouPage);
    auto mails = site->Mails(1);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].Header("Subject"), "Upload #1 ");
    std::string body = mails[0].Body();
    EXPECT_EQ(body.rfind(TopLines + "Name:Anna\r\nCity:Bonn\r\nmailsubject:Upload\r\n", 0), 0u) << body;
    EXPECT_NE(body.find("note.txt"), std::string::npos) << body;  // the upload's file name field
    EXPECT_EQ(Counter(), 1);
}

TEST_F(VelmoraEndToEnd, BodyLinesFollowTheControlFieldsAndSideFiles) {
    // CHAR, a posted MAILTO kept out of the body, Erroroff listed, several values of one field.
    site->Post("CHAR=%3D&City=Bonn&MAILTO=webmaster%40example.org&Erroroff=1&Pick=a&Pick=b");
    // VARNAMES "NO": values only, empty ones as empty lines; "no" is not "NO". The upper-case
    // name itself stays out of the body.
    site->Post("VARNAMES=NO&A=1&B=&C=3");
    site->Post("VARNAMES=no&A=1&B=&C=3");
    // VELMORA.TOP and VELMORA.BOT replace the stored lines; Options "jn": date line, no number.
    WriteWholeFile(site->CgiFile("VELMORA.TOP"), "Top one\nTop two\r\n");
    WriteWholeFile(site->CgiFile("VELMORA.BOT"), "Bottom\r");
    ChangeSettings([](TMailSettings& s) { s.Set(TMailField::Options, "jn"); });
    site->Post("A=1");
    // Options "J": neither.
    ChangeSettings([](TMailSettings& s) { s.Set(TMailField::Options, "J"); });
    site->Post("A=2");

    auto mails = site->Mails(5);
    ASSERT_EQ(mails.size(), 5u);
    EXPECT_EQ(mails[0].Body(), TopLines + "City=Bonn\r\nErroroff=1\r\nPick=a\r\nb\r\n" + BottomLines + EmptyLine);
    EXPECT_EQ(mails[1].Body(), TopLines + "1\r\n\r\n3\r\n" + BottomLines + EmptyLine);
    EXPECT_EQ(mails[2].Body(), TopLines + "A:1\r\nC:3\r\n" + BottomLines + EmptyLine);
    std::string dated = mails[3].Body();
    EXPECT_EQ(dated.rfind("Top one\r\nTop two\r\nA:1\r\nBottom\r\n", 0), 0u) << dated;
    // The date line: short date and long time of the C locale, "mm/dd/yy hh:mm:ss".
    std::string dateLine = dated.substr(std::string("Top one\r\nTop two\r\nA:1\r\nBottom\r\n").size());
    EXPECT_TRUE(std::regex_match(dateLine, std::regex(R"([01]\d/[0-3]\d/\d\d [0-2]\d:[0-5]\d:[0-5]\d\r\n\r\n)")))
        << dateLine;
    EXPECT_EQ(mails[3].Header("Subject"), "Web form ");
    EXPECT_EQ(mails[4].Body(), "Top one\r\nTop two\r\nA:2\r\nBottom\r\n" + EmptyLine);
    EXPECT_EQ(mails[4].Header("Subject"), "Web form ");
    EXPECT_EQ(Counter(), 5);
}

TEST_F(VelmoraEndToEnd, AllowedListDecidesTheRecipients) {
    const std::string refusal =
        "<HTML><HEAD><TITLE>Message from Brevanto - VELMORA</TITLE></HEAD><BODY>"
        "<center>Destination EMail-Adress not allowed.<br>webmaster@example.org<p><br>Allowed EMail-Adresses :<br>"
        "webmaster@example.org<br>Sales@Example.org<br> support@example.org <br>copy@example.org<br>"
        "</center></BODY></HTML>";
    // 1: no recipient posted: the stored one. 2: posted partly in capitals, allowed by its line
    // in other case: mailed as posted.
    EXPECT_EQ(site->Post("A=1").Body, ThankYouPage);
    EXPECT_EQ(site->Post("mailto=SALES%40example.org&A=2").Body, ThankYouPage);
    // A stranger: refused, nothing sent, still counted; the page names the stored recipient.
    EXPECT_EQ(site->Post("mailto=stranger%40spam.example&A=3").Body, refusal);
    // A copy to a stranger is refused too, even with an allowed main recipient.
    EXPECT_EQ(site->Post("mailto=webmaster%40example.org&mailcc=victim%40spam.example&A=4").Body, refusal);
    EXPECT_EQ(site->Post("mailcc=victim%40spam.example&A=5").Body, refusal);
    // An allowed copy recipient is sent a copy.
    EXPECT_EQ(site->Post("mailcc=copy%40example.org&A=6").Body, ThankYouPage);

    auto mails = site->Mails(3);
    ASSERT_EQ(mails.size(), 3u);
    EXPECT_EQ(mails[0].Recipients, std::vector<std::string>{"webmaster@example.org"});
    EXPECT_EQ(mails[1].Recipients, std::vector<std::string>{"SALES@example.org"});
    EXPECT_EQ(mails[1].Header("To"), "<SALES@example.org>");
    EXPECT_EQ(mails[2].Recipients, (std::vector<std::string>{"webmaster@example.org", "copy@example.org"}));
    EXPECT_EQ(mails[2].Header("CC"), "<copy@example.org>");
    EXPECT_EQ(Counter(), 6);
    EXPECT_NE(site->Log().find("Copy recipient \"victim@spam.example\" refused"), std::string::npos) << site->Log();

    // An empty allowed list refuses every named recipient and lists nothing.
    WriteWholeFile(site->CgiFile("VELMORA.ALL"), "");
    EXPECT_EQ(site->Post("mailto=webmaster%40example.org").Body,
              "<HTML><HEAD><TITLE>Message from Brevanto - VELMORA</TITLE></HEAD><BODY>"
              "<center>Destination EMail-Adress not allowed.<br>webmaster@example.org<p><br>Allowed EMail-Adresses :<br>"
              "</center></BODY></HTML>");
    EXPECT_EQ(site->Mails().size(), 3u);
    EXPECT_EQ(Counter(), 7);
}

TEST_F(VelmoraEndToEnd, RedirectTemplateAndErrorAnswers) {
    WriteWholeFile(site->CgiFile("thanks.htm"), "<p>Thanks, %Name%, from #City#.</p>");
    WriteWholeFile(site->CgiFile("stored.htm"), "<p>stored template</p>");

    // Redirect, with the address escaped; it wins over a template.
    HttpAnswer a = site->Post("Name=A&htmlfile=thanks.htm&htmlurl=" "http%3A%2F%2Fexample.org%2Fok%3Fa%3D1%26b%3D%22%3E%3Cscript%3E");
    EXPECT_EQ(a.Body,
              "<html><head><meta http-equiv=\"REFRESH\" content=\"0;URL=http://example.org/ok?a=1&amp;b=&quot;&gt;&lt;script&gt;\">"
              "<title>Form</title></head><body bgcolor=\"#FFFFFF\"><p><font color=\"#FFFFFF\">Velmora</font></p></body></html>");
    // The form's template, filled in; then the stored one.
    EXPECT_EQ(site->Post("Name=Anna&City=Bonn&htmlfile=thanks.htm").Body, "<p>Thanks, Anna, from Bonn.</p>");
    ChangeSettings([](TMailSettings& s) { s.Set(TMailField::htmlfile, "stored.htm"); });
    EXPECT_EQ(site->Post("Name=Anna").Body, "<p>stored template</p>");
    ASSERT_EQ(site->Mails(3).size(), 3u);

    // A relay that refuses the recipient: the error page, the relay's reply escaped.
    ChangeSettings([](TMailSettings& s) {
        s.Set(TMailField::htmlfile, "");
        s.Set(TMailField::mailto, RefusedAtRelay);
    });
    EXPECT_EQ(site->Post("Name=Anna").Body,
              "<HTML><HEAD><TITLE>Message from Brevanto - VELMORA Error</TITLE></HEAD><BODY>"
              "unable to deliver mail : 550 5.1.1 &lt;refused@example.org&gt;: Recipient address rejected\r\n"
              "</BODY></HTML>");
    // Erroroff: nothing, or the template when there is one.
    a = site->Post("Name=Anna&Erroroff=1");
    EXPECT_EQ(a.Status, 200);
    EXPECT_EQ(a.Body, "");
    EXPECT_EQ(site->Post("Name=Anna&City=Bonn&Erroroff=1&htmlfile=thanks.htm").Body, "<p>Thanks, Anna, from Bonn.</p>");
    EXPECT_EQ(site->Mails().size(), 3u);
    EXPECT_EQ(Counter(), 6);

    // A missing template (the site's own choice; a form may name only existing pages) is reported
    // by the engine, not answered with a page of ours.
    ChangeSettings([](TMailSettings& s) {
        s.Set(TMailField::mailto, "webmaster@example.org");
        s.Set(TMailField::htmlfile, "nosuch.htm");
    });
    a = site->Post("Name=Anna");
    EXPECT_EQ(a.Body.find("<p>"), std::string::npos);
    EXPECT_NE(site->Log().find("Can not find file named"), std::string::npos) << site->Log();
}

TEST_F(VelmoraEndToEnd, FormCannotChooseFilesOutsideTheProgramFolder) {
    WriteWholeFile(site->Dir() + "/secret.htm", "SECRET");
    WriteWholeFile(site->CgiFile("sub.htm"), "<p>inside</p>");
    for (const std::string& name : {site->Dir() + "/secret.htm", std::string("../secret.htm"),
                                    std::string("x/../../secret.htm"), std::string("..")}) {
        SCOPED_TRACE(name);
        // Ignored: the stored (empty) template stays, so the thank-you page.
        HttpAnswer a = site->Curl({"--data-urlencode", "htmlfile=" + name, "--data", "A=1"}, site->ProgramUrl());
        EXPECT_EQ(a.Body, ThankYouPage);
        EXPECT_NE(site->Log().find("Form field htmlfile \"" + name + "\" ignored"), std::string::npos) << site->Log();
    }
    // Also on the Erroroff path of a failed send.
    ChangeSettings([](TMailSettings& s) { s.Set(TMailField::mailto, RefusedAtRelay); });
    HttpAnswer a = site->Curl({"--data", "Erroroff=1&htmlfile=..%2Fsecret.htm"}, site->ProgramUrl());
    EXPECT_EQ(a.Body, "");
    // A name inside the folder is still the form's to choose.
    EXPECT_EQ(site->Post("Erroroff=1&htmlfile=sub.htm").Body, "<p>inside</p>");
}

TEST_F(VelmoraEndToEnd, SettingsFileMissingOrHoldingSeveralRecords) {
    // Missing: an empty answer, no mail, and a log line saying why.
    ASSERT_EQ(::unlink(Ini().c_str()), 0);
    HttpAnswer a = site->Post("A=1");
    EXPECT_EQ(a.Status, 200);
    EXPECT_EQ(a.Body, "");
    EXPECT_NE(site->Log().find("Settings file " + Ini() + " not found"), std::string::npos) << site->Log();

    // Empty: no record, so no recipient is allowed; the refusal page, no mail, the file untouched.
    WriteWholeFile(Ini(), "");
    a = site->Post("A=1");
    EXPECT_NE(a.Body.find("not allowed.<br><p><br>Allowed EMail-Adresses :<br>webmaster@example.org<br>"),
              std::string::npos) << a.Body;
    EXPECT_EQ(ReadWholeFile(Ini()), "");

    // Three records: the last one decides and is written back alone, counted.
    TMailSettings first = Settings(), last = Settings();
    first.Set(TMailField::mailsubject, "First");
    last.Set(TMailField::mailsubject, "Last");
    last.SetCounter(41);
    WriteWholeFile(Ini(), first.ToBytes() + first.ToBytes() + last.ToBytes());
    EXPECT_EQ(site->Post("A=1").Body, ThankYouPage);
    auto mails = site->Mails(1);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].Header("Subject"), "Last #42 ");
    last.SetCounter(42);
    EXPECT_EQ(ReadWholeFile(Ini()), last.ToBytes());
}

TEST_F(VelmoraEndToEnd, FiftyConcurrentPostsCountFiftyAndDeliverFifty) {
    std::vector<std::thread> posts;
    std::atomic<int> thanked{0};
    for (int i = 0; i < 50; ++i)
        posts.emplace_back([&, i] {
            if (site->Post("Post=" + std::to_string(i)).Body == ThankYouPage) ++thanked;
        });
    for (auto& t : posts) t.join();
    EXPECT_EQ(thanked, 50);
    EXPECT_EQ(Counter(), 50);
    auto mails = site->Mails(50, 60000);
    ASSERT_EQ(mails.size(), 50u);
    // Every post got its own number, 1 to 50, and its own body.
    std::vector<bool> seenNumber(51, false), seenPost(50, false);
    for (const auto& m : mails) {
        std::string subject = m.Header("Subject");  // "Web form #N "
        int n = std::atoi(subject.substr(subject.find('#') + 1).c_str());
        ASSERT_TRUE(n >= 1 && n <= 50) << subject;
        EXPECT_FALSE(seenNumber[static_cast<size_t>(n)]) << subject;
        seenNumber[static_cast<size_t>(n)] = true;
        std::string body = m.Body();
        size_t p = body.find("Post:");
        ASSERT_NE(p, std::string::npos);
        seenPost[static_cast<size_t>(std::atoi(body.c_str() + p + 5))] = true;
    }
    for (bool b : seenPost) EXPECT_TRUE(b);
}

TEST_F(VelmoraEndToEnd, ChromiumFillsInAndSubmitsTheSampleContactPage) {
    // The sample page as shipped, its program address moved to where this test's server has the
    // program, with a script that fills in its form and submits it when asked.
    std::string page = ReadWholeFile(VELMORA_SOURCE_DIR "/tools/demo/contact.html");
    ASSERT_FALSE(page.empty());
    for (size_t at = page.find("\"/forms/velmora"); at != std::string::npos; at = page.find("\"/forms/velmora", at))
        page.replace(at + 2, 5, "cgi-bin");  // "forms" after the quote and slash
    page += "<script>\n"
            "if (location.hash === '#auto') {\n"
            "  const f = document.getElementById('contact');\n"
            "  f.elements['Name'].value = 'Chromium Tester';\n"
            "  f.elements['Email'].value = 'tester@example.org';\n"
            "  f.elements['City'].value = 'K\\u00f6ln';\n"
            "  f.elements['Message'].value = 'Hello from a real browser.\\nSecond line.';\n"
            "  f.requestSubmit();\n"
            "}\n"
            "</script>\n";
    WriteWholeFile(site->WwwDir() + "/contact.html", page);
    TChildRun browser;
    browser.Args = {"/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu",
                    "--disable-background-networking", "--disable-component-update", "--disable-sync",
                    "--no-first-run", "--user-data-dir=" + site->Dir() + "/profile",
                    "--virtual-time-budget=5000", "--dump-dom", site->Url("/contact.html#auto")};
    browser.Env = InheritedEnvironment();
    browser.TimeoutMs = 90000;  // a page that fails to load keeps it waiting
    TChildResult r = RunChild(browser);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Out.find("We received your message."), std::string::npos) << r.Out;

    auto mails = site->Mails(1);
    ASSERT_EQ(mails.size(), 1u);
    const DeliveredMail& m = mails[0];
    EXPECT_EQ(m.Recipients, std::vector<std::string>{"webmaster@example.org"});
    EXPECT_EQ(m.Header("Subject"), "Contact form #1 ");
    // The page is ISO-8859-1, so the browser posts the o-umlaut as one byte; a textarea's line end is CR LF.
    // The control fields are posted in capitals and so stay out of the body.
    EXPECT_EQ(m.Body(), TopLines + "Name:Chromium Tester\r\nEmail:tester@example.org\r\nCity:K\xF6ln\r\n"
                                   "Message:Hello from a real browser.\r\nSecond line.\r\n" +
                            BottomLines + EmptyLine)
        << m.Raw;
}

TEST_F(VelmoraEndToEnd, StartedAsCgiFromAnotherFolderFindsItsSideFiles) {
    WriteWholeFile(site->CgiFile("VELMORA.TOP"), "From the program's folder\r\n");
    std::string body = "A=1";
    TChildRun cgi;
    cgi.Args = {site->CgiFile("velmora")};
    cgi.Env = {"SERVER_SOFTWARE=test", "GATEWAY_INTERFACE=CGI/1.1", "REQUEST_METHOD=POST",
               "CONTENT_TYPE=application/x-www-form-urlencoded", "CONTENT_LENGTH=" + std::to_string(body.size()),
               "SCRIPT_NAME=/cgi-bin/velmora", "PATH=/usr/bin:/bin"};
    cgi.Input = body;
    cgi.WorkDir = "/";
    TChildResult r = RunChild(cgi);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Out.find(ThankYouPage), std::string::npos) << r.Out;
    auto mails = site->Mails(1);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].Body().rfind("From the program's folder\r\nA:1\r\n", 0), 0u) << mails[0].Body();
    EXPECT_EQ(Counter(), 1);
}
