// The spam rules of VELMORA.CONF: the content rules case by case, then through lighttpd and the
// real relay what a robot is answered and what the log says; and the hosted CAPTCHA services'
// tokens verified with a local HTTPS stub that plays each service (success, failure, garbage,
// silence).
#include <gtest/gtest.h>

#include <chrono>

#include "ContentRules.h"
#include "SiteFixture.h"
#include "VerifyStub.h"

using namespace velmora;
using namespace velmora::test;

namespace {

TEST(ContentRules, EachRuleRefusesWhatItShould) {
    TContentRules rules;
    rules.Required = {"Name", "Email"};
    rules.Email = {"Email"};
    rules.MaxLinks = 2;
    rules.BlockedWords = std::make_shared<TBlockedWords>(BlockedWordsOf("# words of our spam\n\nCasino\nfree   money\n$$$\ncafé\n"));
    const TFormValues ok = {{"Name", "Anna"}, {"Email", "anna@example.org"}, {"Text", "See https://www.example.org"}};
    struct Case {
        const char* what;
        TFormValues form;
        int status;
        std::string reason;
    } cases[] = {
        {"a clean post", ok, 0, ""},
        {"a required field missing", {{"Email", "a@example.org"}}, 400, "required fields missing: Name"},
        {"required fields blank", {{"Name", " \t"}, {"Email", ""}}, 400, "required fields missing: Name, Email"},
        {"two addresses", {{"Name", "A"}, {"Email", "a@example.org, b@example.org"}}, 400, "not one e-mail address: Email"},
        {"an address with a header after it", {{"Name", "A"}, {"Email", "a@example.org\r\nBcc: v@example.net"}}, 400,
         "not one e-mail address: Email"},
        {"no domain", {{"Name", "A"}, {"Email", "anna@"}}, 400, "not one e-mail address: Email"},
        {"links up to the most", {{"Name", "A"}, {"Email", "a@example.org"}, {"T", "http://a.example www.b.example"}}, 0, ""},
        {"links across fields, case ignored", {{"Name", "HTTP://a.example"}, {"Email", "a@example.org"}, {"T", "WWW.b c https://d"}},
         403, "links 3 > 2"},
        {"a blocked word in any case", {{"Name", "A"}, {"Email", "a@example.org"}, {"T", "Best CASINO here"}}, 403,
         "blocked word \"casino\""},
        {"a word that only contains one", {{"Name", "A"}, {"Email", "a@example.org"}, {"T", "casinos and occasino"}}, 0, ""},
        {"a phrase over a line break", {{"Name", "A"}, {"Email", "a@example.org"}, {"T", "get FREE\r\n money"}}, 403,
         "blocked word \"free money\""},
        {"a word of signs inside a word", {{"Name", "A"}, {"Email", "a@example.org"}, {"T", "win$$$now"}}, 403, "blocked word \"$$$\""},
        {"a word beyond ASCII is a word", {{"Name", "A"}, {"Email", "a@example.org"}, {"T", "cafés"}}, 0, ""},
        {"field names in any case", {{"name", "A"}, {"EMAIL", "a@example.org"}}, 0, ""},
        {"a blocked word in a field's name", {{"Name", "A"}, {"Email", "a@example.org"}, {"buy casino now http://a.example", "x"}},
         403, "blocked word \"casino\""},
        {"invisible spaces are blanks", {{"Name", "A"}, {"Email", "a@example.org"}, {"T", "free\xC2\xA0\xE2\x80\x8B\v\fmoney"}},
         403, "blocked word \"free money\""},
        {"invisible spaces beside a word", {{"Name", "A"}, {"Email", "a@example.org"}, {"T", std::string("x\0casino\xEF\xBB\xBF\xE2\x80\x8D", 13)}},
         403, "blocked word \"casino\""},
    };
    for (const Case& c : cases) {
        TContentVerdict v = CheckContentRules(rules, c.form);
        EXPECT_EQ(v.Status, c.status) << c.what;
        EXPECT_EQ(v.Reason, c.reason) << c.what;
    }
    EXPECT_EQ(CountLinks("https://www.a http://www.b www.c hTTps:// http:/x"), 4u);
}

class SpamRules : public SiteFixture {
protected:
    HttpAnswer Json(const std::string& data) const {
        return site->Curl({"-H", "Accept: application/json", "--data-binary", data}, site->ProgramUrl());
    }
};

TEST_F(SpamRules, RobotsAreRefusedLoggedAndNotCounted) {
    WriteWholeFile(site->CgiFile("spamwords.txt"), "casino\r\nfree money\r\n");
    Conf("required_fields = Name, Email\nemail_fields = Email\nmax_links = 1\nblocked_words_file = spamwords.txt\n");
    struct Case {
        std::string data;
        int status;
        std::string json;  // the whole JSON answer
        std::string log;
    } cases[] = {
        {"Name=&Text=hi", 400, R"({"ok":false,"error":"required-fields","fields":["Name","Email"]})",
         "spam: required fields missing: Name, Email"},
        {"Name=A&Email=a%40b%40example.org", 400, R"({"ok":false,"error":"invalid-email","fields":["Email"]})",
         "spam: not one e-mail address: Email"},
        {"Name=A&Email=a%40example.org&T=www.a.example+http%3A%2F%2Fb.example", 403, R"({"ok":false,"error":"spam"})",
         "spam: links 2 > 1"},
        {"Name=A&Email=a%40example.org&T=Free+Money+now", 403, R"({"ok":false,"error":"spam"})",
         "spam: blocked word \"free money\""},
        {"Name=A&Email=a%40example.org&T=one+link+www.a.example", 200, R"({"ok":true})", ""},
        {"name=B&EMAIL=b%40example.org", 200, R"({"ok":true})", ""},
    };
    for (const Case& c : cases) {
        HttpAnswer a = Json(c.data);
        EXPECT_EQ(a.Status, c.status) << c.data;
        EXPECT_EQ(a.Body, c.json) << c.data;
        if (!c.log.empty()) {
            EXPECT_EQ(LoggedTimes(c.log), 1u) << c.log << "\n" << site->Log();
        }
    }
    // The page names the fields for a person, escaped; a spam refusal tells a robot nothing.
    Conf("required_fields = <b>Name</b>\nmax_links = 0\n");
    HttpAnswer page = site->Post("x=1");
    EXPECT_EQ(page.Status, 400);
    EXPECT_NE(page.Body.find("Please fill in: &lt;b&gt;Name&lt;/b&gt;."), std::string::npos) << page.Body;
    page = site->Post("%3Cb%3EName%3C%2Fb%3E=www.x.example");
    EXPECT_EQ(page.Status, 403);
    EXPECT_NE(page.Body.find("The message was not accepted. Nothing was sent."), std::string::npos) << page.Body;
    EXPECT_EQ(page.Body.find("link"), std::string::npos) << page.Body;

    // spam_answer = thanks: the robot is thanked like a person, and still nothing is mailed.
    Conf("max_links = 0\nspam_answer = thanks\n");
    HttpAnswer thanked = Json("T=www.x.example");
    EXPECT_EQ(thanked.Status, 200);
    EXPECT_EQ(thanked.Body, R"({"ok":true})");
    EXPECT_EQ(site->Post("T=www.x.example").Body.find("We received your message.") != std::string::npos, true);
    EXPECT_EQ(LoggedTimes("spam: links 1 > 0"), 3u) << site->Log();

    auto mails = site->Mails(2);
    EXPECT_EQ(mails.size(), 2u);
    EXPECT_EQ(site->Smtp().MessageCount(), 2);
    // Only the posts that were mailed were counted.
    EXPECT_EQ(ReadSettingsFile(site->CgiFile("VELMORA.INI"))->Counter(), 2);
}

TEST_F(SpamRules, HostedCaptchaTokensAreVerifiedWithTheService) {
    VerifyStub stub("s3cret");
    struct Provider {
        std::string name, field;
    } providers[] = {{"turnstile", "cf-turnstile-response"}, {"hcaptcha", "h-captcha-response"}, {"recaptcha", "g-recaptcha-response"}};
    struct Outcome {
        std::string mode;
        int status;
        std::string log;  // after "<prefix> captcha <provider> "
        std::string json;
    } outcomes[] = {
        {"success", 200, "", ""},
        {"failure", 403, "spam: refused the token (invalid-input-response)", R"({"ok":false,"error":"spam"})"},
        // No answer on the token is no verdict on it: the visitor is told to try again.
        {"garbage", 503, "not checked: answer unreadable", R"({"ok":false,"error":"unavailable"})"},
        {"silence", 503, "not checked: not asked: no answer from 127.0.0.1 in time", R"({"ok":false,"error":"unavailable"})"},
    };
    int mailed = 0;
    for (const Provider& p : providers) {
        for (const Outcome& o : outcomes) {
            Conf("captcha_provider = " + p.name + "\ncaptcha_secret = s3cret\ncaptcha_verify_url = " + stub.Url(p.name, o.mode) +
                 "\ncaptcha_ca_file = " + stub.CaFile() + "\n");
            ::chmod(site->CgiFile("VELMORA.CONF").c_str(), 0600);
            auto start = std::chrono::steady_clock::now();
            HttpAnswer a = Json("Name=Anna&" + p.field + "=tok-" + p.name + "%2B1");
            double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::string what = p.name + " " + o.mode;
            EXPECT_EQ(a.Status, o.status) << what << ": " << a.Body;
            if (o.status == 200) {
                ++mailed;
            } else {
                EXPECT_EQ(a.Body, o.json) << what;
                std::string prefix = o.log.substr(0, o.log.find(':') + 1);
                EXPECT_EQ(LoggedTimes(prefix + " captcha " + p.name + o.log.substr(prefix.size())), 1u) << what << "\n" << site->Log();
            }
            if (o.mode == "silence") {
                EXPECT_GE(seconds, 4.5) << what;
                EXPECT_LT(seconds, 9) << what;
            }
        }
    }
    // What the service was asked: the secret, the visitor's token as posted, and the address.
    std::string requests = stub.Requests();
    EXPECT_NE(requests.find(R"("type": "application/x-www-form-urlencoded", "form": {"secret": "s3cret", "response": "tok-hcaptcha+1", "remoteip": "127.0.0.1"})"),
              std::string::npos) << requests;
    auto mails = site->Mails(mailed);
    ASSERT_EQ(mails.size(), 3u);
    for (const auto& m : mails) {
        EXPECT_NE(m.Body().find("Name:Anna"), std::string::npos) << m.Raw;
        EXPECT_EQ(m.Raw.find("tok-"), std::string::npos) << "the token stays out of the mail: " << m.Raw;
    }
}

TEST_F(SpamRules, CaptchaServiceOutOfReachOrUntrusted) {
    VerifyStub stub("s3cret");
    const std::string base = "captcha_provider = hcaptcha\ncaptcha_secret = s3cret\n";
    // The stub's certificate is of an authority the system does not know: refused, fail-closed.
    Conf(base + "captcha_verify_url = " + stub.Url("hcaptcha", "success") + "\n");
    ::chmod(site->CgiFile("VELMORA.CONF").c_str(), 0600);
    EXPECT_EQ(Json("h-captcha-response=t").Status, 503);
    EXPECT_EQ(LoggedTimes("not checked: captcha hcaptcha not asked"), 1u) << site->Log();
    // A certificate of the right authority must also name the host asked: for localhost only, an
    // address of 127.0.0.1 is refused, the name localhost taken.
    VerifyStub named("s3cret", "DNS:localhost");
    Conf(base + "captcha_ca_file = " + named.CaFile() + "\ncaptcha_verify_url = " + named.Url("hcaptcha", "success") + "\n");
    EXPECT_EQ(Json("h-captcha-response=t").Status, 503);
    EXPECT_EQ(named.Requests().size(), 0u) << named.Requests();
    Conf(base + "captcha_ca_file = " + named.CaFile() + "\ncaptcha_verify_url = " + named.Url("hcaptcha", "success", "localhost") + "\n");
    EXPECT_EQ(Json("Name=Named&h-captcha-response=t").Status, 200);
    // No token: refused without asking.
    Conf(base + "captcha_ca_file = " + stub.CaFile() + "\ncaptcha_verify_url = " + stub.Url("hcaptcha", "success") + "\n");
    EXPECT_EQ(Json("Name=Anna").Status, 403);
    EXPECT_EQ(LoggedTimes("spam: captcha hcaptcha token missing"), 1u) << site->Log();
    EXPECT_EQ(stub.Requests().size(), 0u) << stub.Requests();
    // Nobody listening: refused, unless the site lets such posts through; never thanked, as that
    // would tell a person the message went out.
    const std::string closed = base + "captcha_verify_url = https://127.0.0.1:" + std::to_string(UnusedPort()) + "/\n";
    Conf(closed + "spam_answer = thanks\n");
    HttpAnswer unchecked = Json("h-captcha-response=t");
    EXPECT_EQ(unchecked.Status, 503);
    EXPECT_EQ(unchecked.Body, R"({"ok":false,"error":"unavailable"})");
    Conf(closed + "captcha_fail_open = yes\n");
    EXPECT_EQ(Json("Name=Open&h-captcha-response=t").Status, 200);
    EXPECT_EQ(LoggedTimes("CAPTCHA not verified, post let through (captcha_fail_open): hcaptcha not asked"), 1u) << site->Log();
    EXPECT_EQ(site->Mails(2).size(), 2u);
    // The secret never reaches the log; and a file others can read is not sent with.
    EXPECT_EQ(site->Log().find("s3cret"), std::string::npos);
    Conf(base + "captcha_ca_file = " + stub.CaFile() + "\ncaptcha_verify_url = " + stub.Url("hcaptcha", "success") + "\n");
    ::chmod(site->CgiFile("VELMORA.CONF").c_str(), 0644);
    EXPECT_EQ(Json("Name=Open&h-captcha-response=t").Status, 503);
    EXPECT_EQ(LoggedTimes("holds a password that other users can read (captcha_secret"), 1u) << site->Log();
    EXPECT_EQ(stub.Requests().size(), 0u) << "the secret was sent: " << stub.Requests();
    EXPECT_EQ(site->Mails().size(), 2u);
}

}  // namespace
