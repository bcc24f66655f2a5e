// velmora-ini site create|update, run as a process on the build's program: a new site, a site
// made again (its counter, allowed list and fields not given stay), an update after a new program,
// and the refusals that must leave a folder as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "ChildProcess.h"
#include "FileBytes.h"
#include "SettingsFile.h"
#include "TempDir.h"
#include "WebServer.h"

using namespace velmora;
using namespace velmora::test;

namespace {

TChildResult Ini(const std::vector<std::string>& args) {
    TChildRun run;
    run.Args = {VELMORA_INI};
    run.Args.insert(run.Args.end(), args.begin(), args.end());
    return RunChild(run);
}

unsigned Mode(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// What a folder holds before and after a command, and what the command must answer.
struct SiteCase {
    const char* name;
    std::vector<std::string> before;  // "create" runs site create with mailto first; "junk" spoils the program
    std::vector<std::string> args;    // after "site"; "@" is the folder
    int exitCode;
    const char* allowedList;          // VELMORA.ALL afterwards; nullptr: none
    int counter;                      // -1: no settings file
    const char* mailto;
    const char* mailsubject;
};

TEST(VelmoraIniSite, CreateAndUpdateKeepWhatASiteHolds) {
    const SiteCase cases[] = {
        {"new site", {}, {"create", "@", "mailto=webmaster@example.org", "mailsubject=Web"}, 0,
         "webmaster@example.org\n", 0, "webmaster@example.org", "Web"},
        {"new site without recipient gets sample lines", {}, {"create", "@"}, 0,
         "webmaster@example.org\nsales@example.org\nsupport@example.org\n", 0, "", ""},
        {"made again", {"create"}, {"create", "@", "mailsubject=Orders"}, 0, "sales@example.org\n", 7,
         "webmaster@example.org", "Orders"},
        {"update", {"create", "junk"}, {"update", "@"}, 0, "sales@example.org\n", 7, "webmaster@example.org", "Web"},
        {"update of a folder without a site", {}, {"update", "@"}, 1, nullptr, -1, "", ""},
        {"relative folder", {}, {"create", "site", "mailto=a@example.org"}, 2, nullptr, -1, "", ""},
        {"field too long", {}, {"create", "@", "mailport=" + std::string(30, '9')}, 2, nullptr, -1, "", ""},
        {"unknown account", {}, {"create", "@", "--user", "no-such-account-here"}, 1, nullptr, 0, "", ""},
        {"unknown option", {}, {"create", "@", "--force"}, 2, nullptr, -1, "", ""},
    };
    for (const SiteCase& c : cases) {
        TempDir dir;
        const std::string site = dir / "site";
        for (const std::string& step : c.before) {
            if (step == "create") {
                ASSERT_EQ(Ini({"site", "create", site, "mailto=webmaster@example.org", "mailsubject=Web", "Counter=7"}).ExitCode, 0);
                WriteWholeFile(site + "/VELMORA.ALL", "sales@example.org\n");
            } else {
                // A new file: the site's program may be a hard link of the build's, never written through.
                std::filesystem::remove(site + "/velmora");
                WriteWholeFile(site + "/velmora", "junk");
            }
        }
        std::vector<std::string> args = {"site"};
        for (const std::string& a : c.args) args.push_back(a == "@" ? site : a);
        TChildResult r = Ini(args);
        EXPECT_EQ(r.ExitCode, c.exitCode) << c.name << ": " << r.Out << r.Err;
        if (c.exitCode != 0) {
            EXPECT_FALSE(r.Err.empty()) << c.name;
            EXPECT_FALSE(std::filesystem::exists(site + "/velmora")) << c.name << ": a refused command placed the program";
        } else {
            EXPECT_EQ(std::filesystem::file_size(site + "/velmora"), std::filesystem::file_size(VELMORA_PROGRAM)) << c.name;
            EXPECT_EQ(Mode(site + "/velmora") & 0111, 0111u) << c.name;
            EXPECT_EQ(Mode(site + "/velmora-tls.so") & 0111, 0u) << c.name << ": the TLS module must not be runnable";
        }
        if (c.allowedList) {
            EXPECT_EQ(ReadWholeFile(site + "/VELMORA.ALL"), c.allowedList) << c.name;
        }
        auto s = ReadSettingsFile(site + "/VELMORA.INI");
        ASSERT_EQ(s.has_value(), c.counter >= 0) << c.name;
        if (!s) continue;
        EXPECT_EQ(s->Counter(), c.counter) << c.name;
        EXPECT_EQ(s->Get(TMailField::mailto), c.mailto) << c.name;
        EXPECT_EQ(s->Get(TMailField::mailsubject), c.mailsubject) << c.name;
    }
}

// The web server's account gets the settings file and a log folder only it and its group enter.
TEST(VelmoraIniSite, UserGetsTheSettingsAndAPrivateLog) {
    if (::getuid() != 0) GTEST_SKIP() << "only root gives files to another account";
    TempDir dir;
    const std::string site = dir / "site";
    TChildResult r = Ini({"site", "create", site, "--user", "nobody", "mailto=webmaster@example.org"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    struct stat ini {}, log {};
    ASSERT_EQ(::stat((site + "/VELMORA.INI").c_str(), &ini), 0);
    ASSERT_EQ(::stat((site + "/Log").c_str(), &log), 0);
    EXPECT_EQ(log.st_mode & 07777, 0750u);
    EXPECT_EQ(ini.st_uid, log.st_uid);
    EXPECT_NE(ini.st_uid, 0u);
}

}  // namespace
