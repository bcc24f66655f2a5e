// The SQLite archive end to end: velmora as a CGI program of lighttpd with the aiosmtpd relay,
// the archive read back through velmora-ini and, for the export, through Python's csv and json.
#include <gtest/gtest.h>

#include <filesystem>

#include "ChildProcess.h"
#include "PostgresServer.h"
#include "VelmoraSite.h"

using namespace velmora;
using namespace velmora::test;
namespace fs = std::filesystem;

namespace {

std::string Encode(const std::string& bytes) {
    static const char* const hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (std::isalnum(c)) out += static_cast<char>(c);
        else out += std::string("%") + hex[c >> 4] + hex[c & 15];
    }
    return out;
}

std::string Hex(const std::string& bytes) {
    static const char* const hex = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) out += std::string(1, hex[c >> 4]) + hex[c & 15];
    return out;
}

TChildResult RunTool(const std::vector<std::string>& args) {
    TChildRun run;
    run.Args = args;
    run.Env = InheritedEnvironment();
    run.TimeoutMs = 120000;
    return RunChild(run);
}

using TFields = std::vector<std::pair<std::string, std::string>>;

class Archive : public ::testing::Test {
protected:
    void Start(const std::string& conf, int relayPort = 0, const std::string& archive = "sqlite") {
        site = std::make_unique<VelmoraSite>(VELMORA_PROGRAM, std::vector<std::string>{});
        TMailSettings s = test::SiteMailSettings(relayPort ? relayPort : site->SmtpPort());
        WriteSettingsFile(site->CgiFile("VELMORA.INI"), s);
        WriteWholeFile(site->CgiFile("VELMORA.ALL"), "webmaster@example.org\r\n");
        WriteWholeFile(site->CgiFile("VELMORA.CONF"), "archive = " + archive + "\nmail_charset = utf-8\n" + conf);
        fs::permissions(site->CgiFile("VELMORA.CONF"), fs::perms::owner_read | fs::perms::owner_write);
    }
    void TearDown() override {
        std::string errors = site ? site->ServerErrors() : "";
        EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
    }
    TChildResult Ini(std::vector<std::string> args) const {
        args.insert(args.begin(), {VELMORA_INI, "archive"});
        args.insert(args.begin() + 3, site->CgiFile(""));
        return RunTool(args);
    }
    // Multipart, for bodies above the 10,000 bytes a URL-encoded form may have (attach_uploads on).
    // A field named "@NAME" is a file part NAME with the client file name "NAME.bin".
    HttpAnswer PostFields(const TFields& fields, bool multipart = false) const {
        std::string body;
        if (multipart) {
            for (const auto& [n, v] : fields)
                body += "--XyZ\r\nContent-Disposition: form-data; name=\"" +
                        (n[0] == '@' ? n.substr(1) + "\"; filename=\"" + n.substr(1) + ".bin\"\r\nContent-Type: application/x-test" : n + "\"") +
                        "\r\n\r\n" + v + "\r\n";
            return site->PostMultipartBody(body + "--XyZ--\r\n");
        }
        for (const auto& [n, v] : fields) body += (body.empty() ? "" : "&") + Encode(n) + "=" + Encode(v);
        return site->Post(body);
    }
    std::string Stats() const { return Ini({"stats"}).Out; }
    void ExportsHoldExactlyWhatWasPostedTo(const std::string& archive);
    std::unique_ptr<VelmoraSite> site;
};

TEST_F(Archive, ConcurrentCgiPostsEachGiveOneRowAndOneMail) {
    // Fifty processes take turns at the file's write lock; on a loaded machine the last may wait long.
    Start("archive_timeout_ms = 20000\n");
    EXPECT_EQ(site->PostAtOnce(50), 50) << site->Log();
    EXPECT_EQ(site->Mails(50).size(), 50u);
    EXPECT_NE(Stats().find("mailed 50\n"), std::string::npos) << Stats() << site->Log();
    EXPECT_EQ(fs::status(site->CgiFile("Archive")).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(fs::status(site->CgiFile("Archive/submissions.db")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

// What is posted comes back byte for byte from every export of either store, whatever a hostile
// client puts in it.
TEST_F(Archive, ExportsHoldExactlyWhatWasPosted) {
    PostgresServer pg;
    for (const std::string& archive : {std::string("sqlite"), pg.Url()}) {
        SCOPED_TRACE(archive);
        ExportsHoldExactlyWhatWasPostedTo(archive);
    }
}

void Archive::ExportsHoldExactlyWhatWasPostedTo(const std::string& archive) {
    Start("attach_uploads = yes\narchive_uploads = yes\n", 0, archive);
    std::string binary;
    for (int c = 1; c < 256; ++c) binary += static_cast<char>(c);
    TFields many;
    for (int i = 0; i < 10000; ++i) many.emplace_back("f" + std::to_string(i), std::to_string(i * 7));
    const std::vector<std::pair<std::string, TFields>> posts = {
        {"text", {{"Name", "J\xC3\xB6rg M\xC3\xBCller \xE2\x9C\x93"}, {"Message", "line one\r\nline two\nthree"}}},
        {"formulas", {{"Phone", "=HYPERLINK(\"http://x\")"}, {"Note", "-5+3"}, {"At", "@SUM(A1)"}, {"Tab", "\tx"}}},
        {"quotes", {{"say \"hi\", 'you'", "a \"quoted\", comma; DROP TABLE fields; --"}}},
        {"binary", {{"Blob", binary}}},
        {"many", many},
        // The engine drops a value part above its 128 KB window: a megabyte comes as a file.
        {"large", {{"Big", std::string(120000, 'x') + "\xE2\x82\xAC"}, {"@doc", binary + std::string(1 << 20, 'y')}}},
    };
    std::string expected = "[";
    for (const auto& [tag, fields] : posts) {
        TFields all = {{"tag", tag}};
        all.insert(all.end(), fields.begin(), fields.end());
        HttpAnswer a = PostFields(all, tag == "many" || tag == "large");
        ASSERT_NE(a.Body.find(ThankYou), std::string::npos) << tag << ": " << a.Body << site->Log();
        expected += std::string(expected.size() > 1 ? "," : "") + "{\"tag\":\"" + tag + "\",\"fields\":[";
        std::string uploads;
        for (size_t i = 0; i < all.size(); ++i) {
            bool file = all[i].first[0] == '@';
            if (file) uploads += (uploads.empty() ? "[\"" : ",[\"") + Hex(all[i].first.substr(1) + ".bin") + "\",\"" + Hex(all[i].second) + "\"]";
            expected += (i ? ",[\"" : "[\"") + Hex(file ? all[i].first.substr(1) : all[i].first) + "\",\"" +
                        Hex(file ? all[i].first.substr(1) + ".bin" : all[i].second) + "\"]";
        }
        expected += "],\"uploads\":[" + uploads + "]}";
    }
    WriteWholeFile(site->Dir() + "/expected.json", expected + "]");
    for (const char* format : {"csv", "json", "ndjson"}) {
        TChildResult r = Ini({"export", "--format", format, "--output", site->Dir() + "/export." + format});
        ASSERT_EQ(r.ExitCode, 0) << r.Err;
    }
    TChildResult check = RunTool({"/usr/bin/python3", CHECK_EXPORT, site->Dir() + "/expected.json", site->Dir() + "/export.csv",
                              site->Dir() + "/export.json", site->Dir() + "/export.ndjson"});
    EXPECT_EQ(check.ExitCode, 0) << check.Out << check.Err;
}

TEST_F(Archive, KeptMailBecomesDeliveredWhenTheOutboxDeliversIt) {
    Start("outbox = yes\noutbox_request_ms = 0\n", UnusedPort());
    ASSERT_NE(PostFields({{"tag", "later"}}).Body.find(ThankYou), std::string::npos) << site->Log();
    EXPECT_NE(Stats().find("kept 1\n"), std::string::npos) << Stats() << site->Log();
    WriteSettingsFile(site->CgiFile("VELMORA.INI"), test::SiteMailSettings(site->SmtpPort()));
    TChildResult flush = RunTool({VELMORA_INI, "outbox", "flush", site->CgiFile(""), "--now"});
    ASSERT_NE(flush.Out.find("1 delivered"), std::string::npos) << flush.Out << flush.Err;
    EXPECT_NE(Stats().find("delivered 1\n"), std::string::npos) << Stats();
    EXPECT_NE(Ini({"export", "--state", "delivered", "--format", "ndjson"}).Out.find("\"later\""), std::string::npos);
}

TEST_F(Archive, EraseByAddressRemovesOnlyThatPersonsSubmissions) {
    Start("");
    for (const char* email : {"Anna@Example.net", "hannah@example.net", "anna@example.network"})
        ASSERT_NE(PostFields({{"Email", email}, {"Text", "hello"}}).Body.find(ThankYou), std::string::npos);
    ASSERT_NE(PostFields({{"Text", "write to anna@example.net."}}).Body.find(ThankYou), std::string::npos);
    EXPECT_EQ(Ini({"erase", "--address", "anna@example.net"}).Out, "2 removed\n");
    std::string left = Ini({"export", "--format", "ndjson"}).Out;
    EXPECT_EQ(left.find("Anna@Example.net"), std::string::npos) << left;
    EXPECT_NE(left.find("hannah@example.net"), std::string::npos);
    EXPECT_NE(left.find("anna@example.network"), std::string::npos);
}

// What each refusal leaves in the archive: a robot's cheap refusals nothing, content rules a spam row.
TEST_F(Archive, RefusalsAreKeptOnlyWhenTheyCostTheSenderSomething) {
    struct Row {
        std::string Conf;
        TFields Post;
        int Posts;
        std::string Stats;
    };
    const Row rows[] = {
        {"max_links = 1\n", {{"Text", "http://a.example http://b.example"}}, 1, "spam 1\n"},
        {"honeypot_field = website\n", {{"website", "x"}}, 1, "spam 1\n"},
        {"honeypot_field = website\narchive_spam = no\n", {{"website", "x"}}, 1, "total 0\n"},
        {"rate_limit = 1/600\n", {{"Text", "again"}}, 3, "total 1\n"},
        {"altcha = required\naltcha_hmac_key = k\n", {{"Text", "no proof"}}, 1, "total 0\n"},
    };
    for (const Row& row : rows) {
        Start(row.Conf);
        for (int i = 0; i < row.Posts; ++i) PostFields(row.Post);
        EXPECT_NE(Stats().find(row.Stats), std::string::npos) << row.Conf << Stats() << site->Log();
    }
}

// Rows aged in the file itself (no clock to wind): purge takes what is past its time, and only that.
// The CGI start that wrote the fresh row may still be closing the file: sqlite3 waits for it.
TEST_F(Archive, PurgeRemovesWhatIsPastItsDaysAndSpamPastThirty) {
    Start("archive_days = 60\n");
    ASSERT_NE(PostFields({{"tag", "fresh"}}).Body.find(ThankYou), std::string::npos) << site->Log();
    const std::string day = "86400000";
    const struct {
        const char* Id;
        const char* State;
        int Days;
    } aged[] = {{"old-mailed", "mailed", 61}, {"young-mailed", "mailed", 59}, {"old-spam", "spam", 31}, {"young-spam", "spam", 29}};
    std::string sql;
    for (const auto& a : aged)
        sql += std::string("INSERT INTO submissions SELECT '") + a.Id + "', received - " + std::to_string(a.Days) + " * " + day +
               ", site, client, user_agent, referer, recipients, subject, message_id, charset, '" + a.State +
               "', state_at, reason, NULL FROM submissions WHERE length(id) = 36;"
               "INSERT INTO fields VALUES('" + a.Id + "', 0, 'tag', '" + a.Id + "');";
    TChildResult aging = RunTool({"/usr/bin/sqlite3", "-cmd", ".timeout 10000", site->CgiFile("Archive/submissions.db"), sql});
    ASSERT_EQ(aging.ExitCode, 0) << aging.Err;
    EXPECT_EQ(Ini({"purge"}).Out, "2 removed\n");
    std::string left = Ini({"export", "--format", "ndjson"}).Out;
    for (const char* kept : {"fresh", "young-mailed", "young-spam"}) EXPECT_NE(left.find(kept), std::string::npos) << kept;
    for (const char* gone : {"old-mailed", "old-spam"}) EXPECT_EQ(left.find(gone), std::string::npos) << gone;
}

TEST_F(Archive, ADamagedFileIsMovedAsideAndAnUnusableOneNeverStopsTheMail) {
    Start("");
    fs::create_directories(site->CgiFile("Archive"));
    WriteWholeFile(site->CgiFile("Archive/submissions.db"), std::string(8192, 'J'));
    ASSERT_NE(PostFields({{"tag", "after"}}).Body.find(ThankYou), std::string::npos) << site->Log();
    EXPECT_NE(Stats().find("mailed 1\n"), std::string::npos) << Stats() << site->Log();
    int aside = 0;
    for (const auto& f : fs::directory_iterator(site->CgiFile("Archive")))
        aside += f.path().filename().string().rfind("submissions.db.corrupt-", 0) == 0;
    EXPECT_EQ(aside, 1);
    WriteWholeFile(site->CgiFile("VELMORA.CONF"), "archive = sqlite\narchive_file = /proc/velmora/none.db\n");
    ASSERT_NE(PostFields({{"tag", "unarchived"}}).Body.find(ThankYou), std::string::npos) << site->Log();
    EXPECT_EQ(site->Mails(2).size(), 2u);
    EXPECT_NE(site->Log().find("Archive /proc/velmora/none.db not written"), std::string::npos) << site->Log();
}

TEST_F(Archive, TheProgramLinksNeitherDatabaseLibrary) {
    TChildResult ldd = RunTool({"/usr/bin/ldd", VELMORA_PROGRAM});
    ASSERT_EQ(ldd.ExitCode, 0);
    EXPECT_EQ(ldd.Out.find("libsqlite3"), std::string::npos) << ldd.Out;
    EXPECT_EQ(ldd.Out.find("libpq"), std::string::npos) << ldd.Out;
}

}  // namespace
