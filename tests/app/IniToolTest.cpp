// Tests of the velmora-ini program, run as a process: create, show and set with the bytes it must
// keep, its refusals (value too long, broken file, unknown field, existing file) and its help.
#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "FileBytes.h"
#include "MailSettings.h"
#include "TempDir.h"
#include "WebServer.h"

using namespace velmora;
using velmora::test::ReadWholeFile;
using velmora::test::RunChild;
using velmora::test::TChildResult;
using velmora::test::TChildRun;
using velmora::test::TempDir;
using velmora::test::WriteWholeFile;

namespace {

TChildResult Ini(std::vector<std::string> args) {
    TChildRun run;
    run.Args = {VELMORA_INI};
    run.Args.insert(run.Args.end(), args.begin(), args.end());
    return RunChild(run);
}

}  // namespace

TEST(VelmoraIni, CreateShowAndSetKeepTheBytesVelmoraKeeps) {
    TempDir dir;
    std::string path = dir / "VELMORA.INI";
    TChildResult r = Ini({"create", dir.Path(), "mailto=info@example.org", "MAILHOST=127.0.0.1", "mailport=2525",
                       "Counter=41", "mailsubject=Web form", "Options=nj"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    std::string bytes = ReadWholeFile(path);
    ASSERT_EQ(bytes.size(), static_cast<size_t>(MailSettingsSize));
    TMailSettings s = TMailSettings::FromFileBytes(bytes);
    EXPECT_EQ(s.Counter(), 41);
    EXPECT_EQ(s.Get(TMailField::mailto), "info@example.org");
    EXPECT_EQ(s.Get(TMailField::mailhost), "127.0.0.1");
    EXPECT_EQ(s.Get(TMailField::mailsubject), "Web form");
    // Everything not given is zero.
    EXPECT_EQ(bytes.substr(4, 256), std::string(256, '\0'));

    r = Ini({"show", path});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out,
              "Counter=41\nhtmlfile=\nmailfrom=\nmailto=info@example.org\nmailcc=\nmailat=\n"
              "mailsubject=Web form\nmailhost=127.0.0.1\nmailport=2525\nOptions=nj\n"
              "# 1 record; date line off, numbered subject on\n");

    // A file with bytes of its own beyond the values: set touches only the field's length byte and
    // characters, and a shorter value leaves the old characters after it.
    std::string own(MailSettingsSize, '\0');
    for (size_t i = 0; i < own.size(); ++i) own[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    for (const auto& f : MailFields()) own[static_cast<size_t>(f.Offset)] = 5;
    WriteWholeFile(path, own + own);  // two records: rewritten as the last one
    r = Ini({"set", path, "mailto=ab", "mailat=a=b\tc"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    std::string after = ReadWholeFile(path);
    ASSERT_EQ(after.size(), static_cast<size_t>(MailSettingsSize));
    std::string want = own;
    want.replace(341, 3, "\x02" "ab");
    want.replace(503, 6, "\x05" "a=b\tc");
    EXPECT_EQ(after, want);

    r = Ini({"show", path});
    EXPECT_NE(r.Out.find("mailat=a=b\\x09c\n"), std::string::npos) << r.Out;

    // Refusals leave the file as it was.
    r = Ini({"set", path, "mailfrom=ok@example.org", "mailport=" + std::string(21, '1')});
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_EQ(r.Err, "velmora-ini: mailport: the value is 21 characters long; the field holds at most 20\n");
    r = Ini({"set", path, "mailbcc=x"});
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_NE(r.Err.find("unknown field \"mailbcc\""), std::string::npos);
    r = Ini({"set", path, "Counter=12x"});
    EXPECT_EQ(r.ExitCode, 2);
    r = Ini({"create", path, "mailto=x"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("exists; give --force"), std::string::npos);
    EXPECT_EQ(ReadWholeFile(path), want);

    r = Ini({"create", path, "--force", "mailto=x"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(TMailSettings::FromFileBytes(ReadWholeFile(path)).Get(TMailField::mailto), "x");
}

TEST(VelmoraIni, RefusesFilesThatAreNotWholeRecords) {
    TempDir dir;
    std::string path = dir / "odd.ini";
    std::string odd(MailSettingsSize + 12, 'x');
    WriteWholeFile(path, odd);
    for (const auto& cmd : {std::vector<std::string>{"show", path}, std::vector<std::string>{"set", path, "mailto=a"}}) {
        TChildResult r = Ini(cmd);
        EXPECT_EQ(r.ExitCode, 1) << cmd[0];
        EXPECT_EQ(r.Err, "velmora-ini: " + path + ": 1200 bytes is not a whole number of 1188-byte settings records\n");
    }
    EXPECT_EQ(ReadWholeFile(path), odd);
    WriteWholeFile(path, "");
    EXPECT_EQ(Ini({"show", path}).ExitCode, 1);
    TChildResult r = Ini({"set", dir / "missing.ini", "mailto=a"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("does not exist"), std::string::npos);
}

TEST(VelmoraIni, HelpForEveryCommand) {
    for (const std::string cmd : {"create", "show", "set", "site", "help"}) {
        TChildResult r = Ini({cmd, "--help"});
        EXPECT_EQ(r.ExitCode, 0) << cmd;
        EXPECT_EQ(r.Out.rfind("Usage: velmora-ini " + cmd, 0), 0u) << r.Out;
        TChildResult h = Ini({"help", cmd});
        EXPECT_EQ(h.Out, r.Out);
    }
    TChildResult r = Ini({"--help"});
    EXPECT_EQ(r.ExitCode, 0);
    for (const auto& f : MailFields()) EXPECT_NE(r.Out.find(std::string("  ") + f.Name), std::string::npos) << f.Name;
    EXPECT_EQ(Ini({}).ExitCode, 2);
    EXPECT_EQ(Ini({"frobnicate", "x"}).ExitCode, 2);
    EXPECT_EQ(Ini({"show"}).ExitCode, 2);
}
