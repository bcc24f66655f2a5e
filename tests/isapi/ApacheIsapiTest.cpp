// velmora's library under a real Apache: Apache's own ISAPI module, built from Debian's source by
// tools/build-mod-isapi.sh, loads it and calls its entry points; posts go through to the real relay.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ChildProcess.h"
#include "ModIsapi.h"
#include "SettingsFile.h"
#include "SiteSettings.h"
#include "VelmoraSite.h"

using namespace velmora;
using namespace velmora::test;

namespace {


class ApacheIsapi : public ::testing::Test {
protected:
    void SetUp() override {
        IsapiSetup setup{VELMORA_LIBRARY, ModIsapi()};
        site = std::make_unique<VelmoraSite>(VELMORA_PROGRAM, std::vector<std::string>{}, std::vector<std::string>{}, "", &setup);
        TMailSettings s = test::SiteMailSettings(site->SmtpPort());
        s.Set(TMailField::Options, "nj");
        WriteSettingsFile(site->CgiFile("VELMORA.INI"), s);
        WriteWholeFile(site->CgiFile("VELMORA.ALL"), "webmaster@example.org\r\n");
        WriteWholeFile(site->CgiFile("VELMORA.TOP"), "Top line beside the library\r\n");
    }
    void TearDown() override {
        if (!site) return;  // SetUp failed and has said why
        std::string errors = site->ServerErrors();
        EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
        EXPECT_EQ(errors.find("Segmentation"), std::string::npos) << errors;
    }
    int32_t Counter() const { return ReadSettingsFile(site->CgiFile("VELMORA.INI"))->Counter(); }

    std::unique_ptr<VelmoraSite> site;
};

}  // namespace

TEST_F(ApacheIsapi, PostsAreMailedRefusedAndAnsweredThroughTheModule) {
    HttpAnswer a = site->Post("Name=Ann+Lee&Text=hello%21");
    EXPECT_EQ(a.Status, 200) << a.Headers << a.Body;
    EXPECT_NE(a.Body.find(ThankYou), std::string::npos) << a.Headers << a.Body;
    EXPECT_EQ(a.Body.find("content-type"), std::string::npos) << a.Body;
    HttpAnswer m = site->PostMultipart({"Name=Bo", "Text=multi"});
    EXPECT_NE(m.Body.find(ThankYou), std::string::npos) << m.Body;

    auto mails = site->Mails(2);
    ASSERT_EQ(mails.size(), 2u) << site->ServerErrors();
    // The top text comes from the side file beside the library.
    EXPECT_EQ(mails[0].Body().rfind("Top line beside the library\r\nName:Ann Lee\r\nText:hello!\r\n", 0), 0u) << mails[0].Body();
    EXPECT_NE(mails[1].Body().find("Name:Bo\r\nText:multi\r\n"), std::string::npos) << mails[1].Body();
    EXPECT_EQ(mails[0].Header("Subject"), "Web form #1 ");

    // A recipient outside the allowed list: the refusal page, and no mail.
    HttpAnswer refused = site->Post("mailto=stranger@example.net&Text=x");
    EXPECT_NE(refused.Body.find("webmaster@example.org"), std::string::npos) << refused.Body;
    EXPECT_EQ(refused.Body.find(ThankYou), std::string::npos);
    EXPECT_EQ(site->Mails().size(), 2u);
    EXPECT_EQ(Counter(), 3);
}

TEST_F(ApacheIsapi, FiftyConcurrentPostsCountFiftyAndDeliverFifty) {
    EXPECT_EQ(site->PostAtOnce(50), 50);
    EXPECT_EQ(Counter(), 50);
    EXPECT_EQ(site->Mails(50, 60000).size(), 50u);
}

// The redirect reaches the browser as the server's own answer, made through the support function.
TEST_F(ApacheIsapi, LocationHeaderBecomesTheServersRedirect) {
    std::filesystem::copy_file(PROBE_LIBRARY, site->CgiFile("probe.isa"));
    HttpAnswer a = site->Curl({}, site->Url("/isapi/probe.isa?do=redirect&url=http://example.org/next"));
    EXPECT_EQ(a.Status, 302) << a.Headers << a.Body;
    EXPECT_NE(a.Headers.find("Location: http://example.org/next\r\n"), std::string::npos) << a.Headers;
}

TEST_F(ApacheIsapi, SiteOptionsHoldThroughTheModule) {
    WriteWholeFile(site->CgiFile("VELMORA.CONF"), "post_only = yes\nattach_uploads = yes\ncors_origins = https://shop.example\n");
    EXPECT_EQ(site->Curl({}, site->ProgramUrl() + "?A=1").Status, 405);
    HttpAnswer json = site->Curl({"-H", "Accept: application/json", "-H", "Origin: https://shop.example",
                                  "--data-binary", "A=1"}, site->ProgramUrl());
    EXPECT_EQ(json.Body, "{\"ok\":true}") << json.Headers;
    EXPECT_NE(json.Headers.find("Access-Control-Allow-Origin: https://shop.example"), std::string::npos) << json.Headers;
    // Above the 10,000 bytes of a plain form: the upload limit applies, and the file is attached.
    std::string file(50000, 'u');
    WriteWholeFile(site->Dir() + "/up.txt", file);
    HttpAnswer upload = site->PostMultipart({"Name=Bo", "doc=@" + site->Dir() + "/up.txt"});
    EXPECT_NE(upload.Body.find(ThankYou), std::string::npos) << upload.Headers << upload.Body;
    auto mails = site->Mails(2);
    ASSERT_EQ(mails.size(), 2u) << site->ServerErrors();
    EXPECT_NE(mails[1].Raw.find("filename=\"up.txt\""), std::string::npos) << mails[1].Raw.substr(0, 2000);
}

// A client that waits for "100 Continue" before its body. Apache's module clears the request's
// status before it preloads, so Apache never sends the 100 and ends the body at once: nothing of
// it can be read. Such a post is refused as incomplete, never thanked for an empty form; one over
// the read limit is refused 413, as under CGI.
TEST_F(ApacheIsapi, BodyAwaitingContinueIsNeverThankedEmpty) {
    HttpAnswer small = site->Curl({"-H", "Expect: 100-continue", "--data-binary", "Name=Cy&Text=" + std::string(3000, 'k')},
                                  site->ProgramUrl());
    EXPECT_EQ(small.Status, 400) << small.Headers << small.Body;
    EXPECT_NE(site->Log().find("Request body ended after 0 of 3013 announced bytes"), std::string::npos) << site->Log();
    HttpAnswer large = site->Curl({"-H", "Expect: 100-continue", "--data-binary", "Text=" + std::string(20000, 'k')},
                                  site->ProgramUrl());
    EXPECT_EQ(large.Status, 413) << large.Headers << large.Body;
    EXPECT_EQ(site->Mails(0).size(), 0u);
    EXPECT_EQ(Counter(), 0);
}
