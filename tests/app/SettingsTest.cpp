// Tests of the settings record and file: the byte layout read and written back unchanged, the
// option switches, and the counter under many processes and threads updating at once.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "ChildProcess.h"
#include "FileBytes.h"
#include "Files.h"
#include "MailSettings.h"
#include "SettingsFile.h"
#include "SysUtils.h"
#include "TempDir.h"
#include "WebServer.h"

using namespace velmora;
using velmora::test::ReadWholeFile;
using velmora::test::TempDir;
using velmora::test::WriteWholeFile;

namespace {

std::string RandomRecord(unsigned seed) {
    std::mt19937 rng(seed);
    std::string bytes(MailSettingsSize, '\0');
    for (char& c : bytes) c = static_cast<char>(rng() & 0xFF);
    // Length bytes within their fields, as a file written by the program has them.
    for (const auto& f : MailFields()) bytes[static_cast<size_t>(f.Offset)] = static_cast<char>(rng() % (f.Capacity + 1));
    return bytes;
}

}  // namespace

TEST(MailSettings, LayoutReadsAndWritesEveryByteAsStored) {
    std::string stored = RandomRecord(7);
    TMailSettings s = TMailSettings::FromFileBytes(stored);
    EXPECT_EQ(s.ToBytes(), stored);

    // Fields sit where the file format puts them, with their length bytes.
    TMailSettings t;
    t.SetCounter(-2);
    t.Set(TMailField::mailto, "info@example.org");
    t.Set(TMailField::mailport, "2525");
    t.Set(TMailField::Options, "nj");
    std::string b = t.ToBytes();
    EXPECT_EQ(b.substr(0, 4), std::string("\xFE\xFF\xFF\xFF", 4));
    EXPECT_EQ(b.substr(341, 17), "\x10info@example.org");
    EXPECT_EQ(b.substr(921, 5), "\x04" "2525");
    EXPECT_EQ(b.substr(942, 3), "\x02nj");
    EXPECT_EQ(t.Counter(), -2);

    // Setting a shorter value changes only the length byte and the new characters.
    TMailSettings u = TMailSettings::FromFileBytes(stored);
    u.Set(TMailField::mailsubject, "Hi");
    std::string after = u.ToBytes();
    for (int i = 0; i < MailSettingsSize; ++i) {
        if (i >= 759 && i <= 761) continue;
        ASSERT_EQ(after[static_cast<size_t>(i)], stored[static_cast<size_t>(i)]) << "byte " << i;
    }
    EXPECT_EQ(u.Get(TMailField::mailsubject), "Hi");

    // Values are cut to their field; a damaged length byte never reads past the field.
    u.Set(TMailField::mailport, std::string(30, '9'));
    EXPECT_EQ(u.Get(TMailField::mailport), std::string(20, '9'));
    std::string damaged = stored;
    damaged[921] = static_cast<char>(200);
    EXPECT_EQ(TMailSettings::FromFileBytes(damaged).Get(TMailField::mailport), damaged.substr(922, 20));

    // Field offsets and capacities tile the record exactly.
    int next = 4;
    for (const auto& f : MailFields()) {
        EXPECT_EQ(f.Offset, next) << f.Name;
        next = f.Offset + 1 + f.Capacity;
    }
    EXPECT_EQ(next, MailSettingsSize);
}

TEST(MailSettings, OptionSwitches) {
    struct Case { std::string options; bool date, numbered; };
    for (const Case& c : {Case{"", true, true}, Case{"jj", true, true}, Case{"nj", false, true},
                          Case{"jn", true, false}, Case{"J", false, false}, Case{"j", true, false},
                          Case{"JJ", false, false}}) {
        TMailSettings s;
        s.Set(TMailField::Options, c.options);
        EXPECT_EQ(s.DateLine(), c.date) << '"' << c.options << '"';
        EXPECT_EQ(s.NumberedSubject(), c.numbered) << '"' << c.options << '"';
    }
}

TEST(SettingsFile, UpdateRewritesTheLastRecordAsTheOnlyOne) {
    TempDir dir;
    std::string path = dir / "VELMORA.INI";
    EXPECT_EQ(UpdateSettingsFile(path, [](TMailSettings&, size_t) { FAIL(); }).Found, TSettingsFound::NoFile);
    EXPECT_FALSE(FileExists(path));
    // An empty file holds no record: nothing to change, and nothing made up is written back.
    WriteWholeFile(path, "");
    EXPECT_EQ(UpdateSettingsFile(path, [](TMailSettings&, size_t) { FAIL(); }).Found, TSettingsFound::NoRecord);
    EXPECT_EQ(ReadWholeFile(path), "");

    std::string r1 = RandomRecord(1), r2 = RandomRecord(2), r3 = RandomRecord(3);
    WriteWholeFile(path, r1 + r2 + r3);
    size_t seen = 0;
    auto written = UpdateSettingsFile(path, [&](TMailSettings& s, size_t size) {
        seen = size;
        s.SetCounter(s.Counter() + 1);
    });
    ASSERT_EQ(written.Found, TSettingsFound::Record);
    EXPECT_EQ(seen, 3u * MailSettingsSize);
    std::string now = ReadWholeFile(path);
    ASSERT_EQ(now.size(), static_cast<size_t>(MailSettingsSize));
    EXPECT_EQ(now.substr(4), r3.substr(4));
    EXPECT_EQ(written.Settings.Counter(), TMailSettings::FromFileBytes(r3).Counter() + 1);

    // Counting in a single record (written in place) and changing a field (the file replaced)
    // both leave every other byte as it was.
    UpdateSettingsFile(path, [](TMailSettings& s, size_t) { s.SetCounter(s.Counter() + 1); });
    UpdateSettingsFile(path, [](TMailSettings& s, size_t) { s.Set(TMailField::mailcc, "c@example.org"); });
    TMailSettings expected = TMailSettings::FromFileBytes(r3);
    expected.SetCounter(expected.Counter() + 2);
    expected.Set(TMailField::mailcc, "c@example.org");
    EXPECT_EQ(ReadWholeFile(path), expected.ToBytes());

    // A short last block overwrites only the bytes it holds.
    WriteWholeFile(path, r1 + r2.substr(0, 500));
    auto partial = ReadSettingsFile(path, &seen);
    ASSERT_TRUE(partial);
    EXPECT_EQ(seen, static_cast<size_t>(MailSettingsSize + 500));
    EXPECT_EQ(partial->ToBytes(), r2.substr(0, 500) + r1.substr(500));

    // A change that throws leaves the file as it was.
    WriteWholeFile(path, r1);
    EXPECT_THROW(UpdateSettingsFile(path, [](TMailSettings&, size_t) { throw Exception("no"); }), Exception);
    EXPECT_EQ(ReadWholeFile(path), r1);
}

TEST(SettingsFile, FiftyConcurrentUpdatesFromProcessesAndThreadsCountExactlyFifty) {
    TempDir dir;
    std::string path = dir / "VELMORA.INI";
    TMailSettings start;
    start.SetCounter(1000);
    start.Set(TMailField::mailto, "keep@example.org");
    WriteSettingsFile(path, start);

    // Ten processes of five threads each, released together by the go-file.
    std::vector<std::thread> launchers;
    std::atomic<int> badExits{0};
    for (int p = 0; p < 10; ++p)
        launchers.emplace_back([&] {
            velmora::test::TChildRun run;
            run.Args = {SETTINGS_HAMMER, path, dir / "go", "5"};
            if (velmora::test::RunChild(run).ExitCode != 0) ++badExits;
        });

    // Meanwhile a reader keeps opening the file: it must always find one whole record.
    std::atomic<bool> done{false};
    std::atomic<int> missing{0}, shortReads{0}, reads{0}, backwards{0};
    std::thread reader([&] {
        int32_t last = 1000;
        while (!done) {
            std::string bytes = ReadWholeFile(path);
            ++reads;
            if (bytes.empty()) ++missing;
            else if (bytes.size() != static_cast<size_t>(MailSettingsSize)) ++shortReads;
            else {
                int32_t c = TMailSettings::FromFileBytes(bytes).Counter();
                if (c < last) ++backwards;
                last = c;
            }
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    WriteWholeFile(dir / "go", "");
    for (auto& t : launchers) t.join();
    done = true;
    reader.join();

    EXPECT_EQ(badExits, 0);
    auto end = ReadSettingsFile(path);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->Counter(), 1050);
    EXPECT_EQ(end->Get(TMailField::mailto), "keep@example.org");
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(shortReads, 0);
    EXPECT_EQ(backwards, 0);
    EXPECT_GT(reads, 0);
}
