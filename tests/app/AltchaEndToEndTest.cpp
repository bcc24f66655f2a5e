// Proof-of-work challenges through lighttpd and the real relay, against independent peers:
// altcha-lib (npm, run with node) solving velmora's challenges and making its own, and the real
// widget in headless Chromium. What a robot posts without the work is refused and never mailed.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <regex>

#include "AltchaPayload.h"
#include "AltchaPeer.h"
#include "Base64Decode.h"
#include "ChildProcess.h"
#include "MailEncoding.h"
#include "ModIsapi.h"
#include "TempDir.h"
#include "VelmoraSite.h"

using namespace velmora;
using namespace velmora::test;

namespace {

const std::string kKey = "site-key-for-the-altcha-tests";

class Altcha : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(InstallAltchaPeers(VELMORA_SOURCE_DIR, ALTCHA_PEERS_DIR, why)) << why;
        site = std::make_unique<VelmoraSite>(VELMORA_PROGRAM, std::vector<std::string>{}, std::vector<std::string>{},
                                             "mimetype.assign += ( \".js\" => \"text/javascript\" )\n");
        site->WriteStandardSettings("nn");
        Conf("altcha = required\naltcha_hmac_key = " + kKey + "\ncors_origins = https://shop.example\n");
    }
    void TearDown() override {
        std::string errors = site->ServerErrors();
        EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
    }
    void Conf(const std::string& text) {
        std::string path = site->CgiFile("VELMORA.CONF");
        WriteWholeFile(path, text);
        std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }
    // altcha-lib's answer to one command of altcha_peer.mjs.
    std::string Peer(const std::vector<std::string>& args, const std::string& input = "") {
        return AltchaPeer(VELMORA_SOURCE_DIR, ALTCHA_PEERS_DIR, args, input);
    }
    HttpAnswer Challenge() { return site->Curl({"-H", "Origin: https://shop.example"}, site->ProgramUrl() + "?altcha"); }
    HttpAnswer PostWith(const std::string& payload, const std::string& fields = "Name=Ann") {
        return site->Curl({"-H", "Accept: application/json", "--data-binary", fields + "&altcha=" + PercentEncodeAll(payload)},
                          site->ProgramUrl());
    }
    bool Logged(const std::string& text) const { return site->Log().find(text) != std::string::npos; }

    std::unique_ptr<VelmoraSite> site;
};

// The decoded JSON of a payload with one piece of text replaced, encoded again: what a robot
// makes of a payload it got from somewhere.
std::string Edited(const std::string& payload, const std::string& from, const std::string& to) {
    std::string json;
    EXPECT_TRUE(DecodeBase64Strict(payload, json));
    size_t at = json.find(from);
    EXPECT_NE(at, std::string::npos) << json;
    if (at != std::string::npos) json.replace(at, from.size(), to);
    return EncodeBase64(json);
}

}  // namespace

TEST_F(Altcha, AltchaLibSolvesVelmorasChallengeOnceAndForgeriesAreRefused) {
    HttpAnswer challenge = Challenge();
    ASSERT_EQ(challenge.Status, 200) << challenge.Headers << challenge.Body;
    EXPECT_NE(challenge.Headers.find("application/json"), std::string::npos) << challenge.Headers;
    EXPECT_NE(challenge.Headers.find("Cache-Control: no-store"), std::string::npos) << challenge.Headers;
    EXPECT_NE(challenge.Headers.find("Access-Control-Allow-Origin: https://shop.example"), std::string::npos);
    EXPECT_TRUE(std::regex_search(challenge.Body, std::regex(R"re("algorithm":"PBKDF2/SHA-256".*"nonce":"[0-9a-f]{32}","salt":"[0-9a-f]{32}"\},"signature":"[0-9a-f]{64}")re")))
        << challenge.Body;
    std::string payload = Peer({"solve"}, challenge.Body);
    // A second challenge is not the first: each has its own nonce and salt.
    EXPECT_NE(Challenge().Body, challenge.Body);

    HttpAnswer accepted = PostWith(payload);
    EXPECT_EQ(accepted.Status, 200) << accepted.Body << site->Log();
    auto mails = site->Mails(1);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_NE(mails[0].Body().find("Name:Ann"), std::string::npos) << mails[0].Raw;
    EXPECT_EQ(mails[0].Body().find("altcha"), std::string::npos) << mails[0].Raw;

    std::string otherPayload = Peer({"solve"}, Challenge().Body);
    struct {
        const char* name;
        std::string payload;
        const char* logged;
    } const refused[] = {
        {"the same payload again", payload, "spam: altcha replayed"},
        {"no payload", "", "spam: altcha missing"},
        {"the widget's test mode", EncodeBase64(R"({"challenge":null,"solution":null,"test":true})"), "spam: altcha malformed"},
        {"another cost under the old signature", Edited(otherPayload, "\"cost\":", "\"cost\":1"), "spam: altcha forged"},
        {"a later expiry under the old signature", Edited(otherPayload, "\"expiresAt\":", "\"expiresAt\":1"), "spam: altcha forged"},
        {"another counter", Edited(otherPayload, "\"counter\":", "\"counter\":1"), "spam: altcha wrong solution"},
        {"not base64", "{not base64}", "spam: altcha malformed (not base64)"},
    };
    for (const auto& row : refused) {
        HttpAnswer a = PostWith(row.payload, "Name=Robot");
        EXPECT_EQ(a.Status, 403) << row.name;
        EXPECT_EQ(a.Body, "{\"ok\":false,\"error\":\"spam\"}") << row.name;
        EXPECT_TRUE(Logged(row.logged)) << row.name << "\n" << site->Log();
    }
    // The untouched other payload still passes: the refusals above did not use it up.
    EXPECT_EQ(PostWith(otherPayload).Status, 200) << site->Log();
    EXPECT_EQ(site->Mails(2, 3000).size(), 2u);
    EXPECT_EQ(site->Log().find(payload.substr(0, 40)), std::string::npos) << "the payload reached the log";
}

TEST_F(Altcha, VelmoraChecksChallengesAltchaLibMadeWithTheSameKey) {
    const std::string soon = std::to_string(std::time(nullptr) + 300);
    const std::string past = std::to_string(std::time(nullptr) - 5);
    // Extra signed data with names out of order and text to escape: the signature covers the
    // canonical JSON, so both sides must write it alike.
    const std::string data = R"({"zeta":"\u00fc\n\"q\"","alpha":7,"Mid":["x",null,true]})";
    struct {
        const char* name;
        std::vector<std::string> create;
        int status;
        const char* logged;
    } const rows[] = {
        {"same key", {"create", kKey, soon, "2000"}, 200, ""},
        {"same key, extra data", {"create", kKey, soon, "2000", data}, 200, ""},
        {"a stranger's key", {"create", "somebody-else-s-key-1234", soon, "2000"}, 403, "spam: altcha forged"},
        {"expired", {"create", kKey, past, "2000"}, 403, "spam: altcha expired"},
    };
    int mailed = 0;
    for (const auto& row : rows) {
        std::string payload = Peer({"solve"}, Peer(row.create));
        HttpAnswer a = PostWith(payload);
        EXPECT_EQ(a.Status, row.status) << row.name << "\n" << site->Log();
        mailed += a.Status == 200;
        if (*row.logged) {
            EXPECT_TRUE(Logged(row.logged)) << row.name << "\n" << site->Log();
        }
    }
    EXPECT_EQ(site->Mails(mailed, 3000).size(), static_cast<size_t>(mailed));
}

TEST_F(Altcha, RobotsThatPostAtOnceAreRefusedAndTheKeyIsGuarded) {
    Conf("altcha = required\naltcha_hmac_key = " + kKey + "\nmin_fill_seconds = 30\n");
    std::string payload = Peer({"solve"}, Challenge().Body);
    HttpAnswer fast = PostWith(payload);
    EXPECT_EQ(fast.Status, 429);
    EXPECT_EQ(fast.Body, R"({"ok":false,"error":"too-fast"})");
    EXPECT_TRUE(Logged("spam: altcha too fast")) << site->Log();
    // A person whose browser filled the form is asked to wait and send it again: the same solution,
    // once the wait is over (here: the site asks for less).
    Conf("altcha = required\naltcha_hmac_key = " + kKey + "\n");
    EXPECT_EQ(PostWith(payload).Status, 200) << site->Log();

    // A key that others can read would let them sign challenges that need no work.
    WriteWholeFile(site->CgiFile("VELMORA.CONF"), "altcha = required\naltcha_hmac_key = " + kKey + "\n");
    std::filesystem::permissions(site->CgiFile("VELMORA.CONF"), std::filesystem::perms::others_read,
                                 std::filesystem::perm_options::add);
    EXPECT_EQ(Challenge().Status, 503);
    EXPECT_EQ(PostWith(Peer({"solve"}, Peer({"create", kKey, std::to_string(std::time(nullptr) + 300), "1000"}))).Status, 503);
    EXPECT_TRUE(Logged("holds a password that other users can read (altcha_hmac_key")) << site->Log();
    EXPECT_EQ(site->Mails(1).size(), 1u);
}

TEST_F(Altcha, OnlyAPostThatIsMailedSpendsItsSolution) {
    std::string payload = Peer({"solve"}, Challenge().Body);
    // The relay out of reach: nothing went out, so the visitor's retry is no replay.
    WriteSettingsFile(site->CgiFile("VELMORA.INI"), test::SiteMailSettings(UnusedPort()));
    EXPECT_EQ(PostWith(payload).Status, 502) << site->Log();
    site->WriteStandardSettings("nn");
    EXPECT_EQ(PostWith(payload, "Name=Ann&mailto=stranger%40evil.example").Status, 403) << site->Log();
    EXPECT_EQ(PostWith(payload).Status, 200) << site->Log();
    EXPECT_EQ(PostWith(payload).Status, 403);
    EXPECT_EQ(site->Mails(1).size(), 1u);
}

TEST_F(Altcha, TheWidgetInChromiumSolvesAndItsFormIsMailed) {
    // The widget as a site serves it: its module file beside the page, its challenge from velmora.
    std::string www = site->Dir() + "/www";
    std::filesystem::copy_file(ALTCHA_PEERS_DIR "/node_modules/altcha/dist/main/altcha.min.js", www + "/altcha.js",
                               std::filesystem::copy_options::overwrite_existing);
    std::string program = site->ProgramUrl().substr(site->Url("").size());
    // The page posts its form once the widget says verified, with the time it took in the form.
    WriteWholeFile(www + "/form.html", R"(<!doctype html><html><head><meta charset="utf-8">
<script type="module" src="/altcha.js"></script></head><body>
<form id="f" method="post" action=")" + program + R"(">
<input name="Name" value="Widget visitor"><input type="hidden" name="solve_ms" id="ms">
<input type="hidden" name="pow_ms" id="pow">
<altcha-widget challenge=")" + program + R"(?altcha" auto="onload"></altcha-widget>
</form><script>
const t0 = performance.now();
document.querySelector('altcha-widget').addEventListener('statechange', (e) => {
  if (e.detail.state !== 'verified') return;
  document.getElementById('ms').value = Math.round(performance.now() - t0);
  document.getElementById('pow').value = Math.round(JSON.parse(atob(e.detail.payload)).solution.time);
  setTimeout(() => document.getElementById('f').submit(), 50);
});
</script></body></html>)");
    TempDir profile;
    TBackground chromium({"/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                          "--disable-component-update", "--disable-sync", "--no-first-run", "--user-data-dir=" + profile.Path(),
                          site->Url("/form.html")},
                         site->Dir() + "/chromium.log");
    auto mails = site->Mails(1, 90000);
    chromium.Stop();
    ASSERT_EQ(mails.size(), 1u) << site->Log() << ReadWholeFile(site->Dir() + "/chromium.log");
    std::string body = mails[0].Body();
    EXPECT_NE(body.find("Name:Widget visitor"), std::string::npos) << body;
    EXPECT_EQ(body.find("altcha"), std::string::npos) << body;
    std::smatch ms;
    ASSERT_TRUE(std::regex_search(body, ms, std::regex(R"(solve_ms:(\d+)\s+pow_ms:(\d+))"))) << body;
    // For the record (not a timed test): how long a visitor waited, and the solving alone.
    std::cout << "[ widget ] page to verified " << ms[1] << " ms, solving " << ms[2] << " ms\n";
    EXPECT_EQ(site->Log().find("spam:"), std::string::npos) << site->Log();
}

// The challenge and the check are the program's, not an engine's: velmora as a FastCGI server
// behind nginx and as a library in Apache (ISAPI) answer and check them as the CGI program does.
TEST_F(Altcha, EveryServerWayServesChallengesAndChecksPosts) {
    FastCgiSetup fastcgi{TServerKind::Nginx, 2};
    std::vector<std::pair<std::string, std::unique_ptr<VelmoraSite>>> sites;
    sites.emplace_back("FastCGI", std::make_unique<VelmoraSite>(VELMORA_PROGRAM, std::vector<std::string>{},
                                                                std::vector<std::string>{}, "", nullptr, &fastcgi));
#ifdef VELMORA_LIBRARY
    IsapiSetup isapi{VELMORA_LIBRARY, ModIsapi()};
    sites.emplace_back("ISAPI", std::make_unique<VelmoraSite>(VELMORA_PROGRAM, std::vector<std::string>{},
                                                              std::vector<std::string>{}, "", &isapi));
#endif
    for (auto& [way, other] : sites) {
        other->WriteStandardSettings("nn");
        std::string conf = other->CgiFile("VELMORA.CONF");
        WriteWholeFile(conf, "altcha = required\naltcha_hmac_key = " + kKey + "\npost_only = yes\n");
        std::filesystem::permissions(conf, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        // Apache's workers run as www-data: the key's file is theirs, readable by nobody else.
        if (const passwd* worker = way == "ISAPI" ? ::getpwnam("www-data") : nullptr) {
            ASSERT_EQ(::chown(conf.c_str(), worker->pw_uid, worker->pw_gid), 0);
        }
        HttpAnswer challenge = other->Curl({}, other->ProgramUrl() + "?altcha");
        ASSERT_EQ(challenge.Status, 200) << way << challenge.Body << other->ServerErrors();
        EXPECT_NE(challenge.Headers.find("Cache-Control: no-store"), std::string::npos) << way << challenge.Headers;
        std::string payload = Peer({"solve"}, challenge.Body);
        auto post = [&](const std::string& p) {
            return other->Curl({"-H", "Accept: application/json", "--data-binary", "Name=Ann&altcha=" + PercentEncodeAll(p)},
                               other->ProgramUrl());
        };
        EXPECT_EQ(post(payload).Status, 200) << way << other->Log();
        EXPECT_EQ(post(payload).Status, 403) << way;
        EXPECT_EQ(post("").Status, 403) << way;
        EXPECT_EQ(other->Mails(1).size(), 1u) << way;
        EXPECT_NE(other->Log().find("spam: altcha replayed"), std::string::npos) << way << other->Log();
    }
}
