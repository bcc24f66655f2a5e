// The outbox's count of kept mail and the delivery of named messages: the count a post checks
// without listing the folder, corrected by a listing, and a run that sends only the names it is
// given (to a real relay on loopback).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "Files.h"
#include "Outbox.h"
#include "SmtpSink.h"
#include "TempDir.h"

using namespace velmora;
using namespace velmora::test;

namespace {

// A whole message file as the outbox writes it, for the configured relay.
void PlantMessage(const std::string& folder, const std::string& name) {
    std::ofstream(folder + "/" + name, std::ios::binary)
        << "Velmora outbox 1\nrelay: configured\nmail-from: form@example.org\nrcpt-to: webmaster@example.org\n\n"
        << "Subject: " << name << "\r\n\r\nText\r\n.\r\n";
}

// Queued now (within the give-up days), due at once.
std::string Name(int n) {
    static const int64_t queued = UnixNow();
    return OutboxName(std::to_string(queued) + "-" + std::to_string(1000 + n), 0, 0);
}

// An outbox folder made in dir, with the given limits.
TOutboxSettings MadeBox(const TempDir& dir, long maxMails, long maxMegabytes) {
    TOutboxSettings box;
    box.Folder = dir.Path() + "/box";
    box.MaxMails = maxMails;
    box.MaxMegabytes = maxMegabytes;
    CreateDir(box.Folder);
    return box;
}

}  // namespace

TEST(OutboxTally, CountsKeptAndRemovedMailAndALaterListingCorrectsIt) {
    TempDir dir;
    const TOutboxSettings box = MadeBox(dir, 2, 100);
    PlantMessage(box.Folder, Name(1));
    struct Step {
        const char* what;
        int kept, removed, pauseMs;
        bool full;
    } steps[] = {
        {"one message listed, the limit two", 0, 0, 0, false},
        {"a mail kept by this process counts at once", 1, 0, 0, true},
        {"a mail delivered by this process counts at once", 0, 1, 0, false},
        {"kept again: full without a listing", 1, 0, 0, true},
        // The folder still holds one message: a full count is listed again after a tenth of a second.
        {"the listing of a full count finds one message", 0, 0, 150, false},
    };
    for (const Step& s : steps) {
        if (s.pauseMs) std::this_thread::sleep_for(std::chrono::milliseconds(s.pauseMs));
        for (int i = 0; i < s.kept; ++i) CountKeptMail(box.Folder, Name(100 + i), 100);
        for (int i = 0; i < s.removed; ++i) CountRemovedMail(box.Folder, 100);
        std::string why = OutboxFull(box);
        EXPECT_EQ(!why.empty(), s.full) << s.what << ": " << why;
        if (s.full) {
            EXPECT_NE(why.find("outbox_max_mails"), std::string::npos) << s.what;
        }
    }
}

// The megabyte limit counts each message's size as learnt once: from this process's own writing,
// from one look at a file another process left; a listing forgets what is gone.
TEST(OutboxTally, SizesAreLearntOnceAndForgottenWhenTheMessageIsGone) {
    TempDir dir;
    const TOutboxSettings box = MadeBox(dir, 1000, 1);
    const std::string other = box.Folder + "/" + Name(1), own = box.Folder + "/" + Name(2);
    std::ofstream(other, std::ios::binary) << std::string(600 * 1024, 'x');
    struct Step {
        const char* what;
        std::function<void()> change;
        bool full;
    } steps[] = {
        {"another process's 600 KB message, looked at", [] {}, false},
        // The own message's file holds less than its record says: the record is what counts.
        {"a 500 KB message kept by this process counts at once",
         [&] {
             std::ofstream(own, std::ios::binary) << "x";
             CountKeptMail(box.Folder, Name(2), 500 * 1024);
         },
         true},
        {"the next listing keeps the kept message's size", [] {}, true},
        {"another's message renamed for a retry keeps its size",
         [&] { RenameFile(other, box.Folder + "/" + OutboxName(Name(1).substr(0, Name(1).find('.')), 1, 0)); }, true},
        {"a listing without the other's message forgets it",
         [&] { DeleteFile(box.Folder + "/" + OutboxName(Name(1).substr(0, Name(1).find('.')), 1, 0)); }, false},
    };
    for (const Step& s : steps) {
        s.change();
        // A full count is listed again after a tenth of a second.
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        std::string why = OutboxFull(box);
        EXPECT_EQ(!why.empty(), s.full) << s.what << ": " << why;
        if (s.full) {
            EXPECT_NE(why.find("outbox_max_megabytes"), std::string::npos) << s.what;
        }
    }
}

TEST(OutboxTally, NamedRunSendsOnlyTheNamesStillThere) {
    TempDir dir;
    SmtpSink relay;
    const std::string folder = dir.Path() + "/box";
    CreateDir(folder);
    PlantMessage(folder, Name(1));
    PlantMessage(folder, Name(2));
    PlantMessage(folder, Name(3));  // not named: waits for a listing
    TFlushRun run;
    run.ConfiguredHost = "127.0.0.1";
    run.ConfiguredPort = std::to_string(relay.Port());
    // Name 9 was delivered by someone else already: skipped, no failure.
    TFlushResult r = FlushNamed(folder, {Name(1), Name(9), Name(2)}, run);
    EXPECT_EQ(r.Delivered, 2);
    EXPECT_EQ(r.Failed, 0);
    EXPECT_FALSE(r.Busy);
    EXPECT_EQ(relay.MessageCount(), 2);
    EXPECT_FALSE(FileExists(folder + "/" + Name(1)));
    EXPECT_FALSE(FileExists(folder + "/" + Name(2)));
    EXPECT_TRUE(FileExists(folder + "/" + Name(3)));
    r = FlushOutbox(folder, run);
    EXPECT_EQ(r.Delivered, 1);
    EXPECT_EQ(relay.MessageCount(), 3);
}

namespace {

ino_t Inode(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

std::string Whole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

// A resident sender keeps a delivered message's file as a spare: never mail itself, written into
// by a later post only once the folder was synced after it was kept, and then holding the new
// message alone (none of the longer old one's tail).
TEST(OutboxTally, DeliveredFilesBecomeSparesThatNeverSendAndAreReusedWhole) {
    TempDir dir;
    SmtpSink relay;
    const std::string folder = dir.Path() + "/box";
    std::string old;
    for (int line = 0; line < 40; ++line) old += "Old line " + std::to_string(line) + std::string(60, 'o') + "\r\n";
    CreateDir(folder);
    std::ofstream(folder + "/" + Name(1), std::ios::binary)
        << "Velmora outbox 1\nrelay: configured\nmail-from: form@example.org\nrcpt-to: webmaster@example.org\n\n"
        << "Subject: old\r\n\r\n" << old << ".\r\n";
    const ino_t delivered = Inode(folder + "/" + Name(1));
    TFlushRun run;
    run.ConfiguredHost = "127.0.0.1";
    run.ConfiguredPort = std::to_string(relay.Port());
    run.KeepSpares = true;
    run.SyncEachRemoval = false;
    ASSERT_EQ(FlushNamed(folder, {Name(1)}, run).Delivered, 1);
    const std::string spare = folder + "/spare-0.spare";
    ASSERT_EQ(Inode(spare), delivered);
    // A whole old message under a spare name: no listing or flush sends it.
    EXPECT_TRUE(ListOutbox(folder).empty());
    EXPECT_EQ(FlushOutbox(folder, run).Delivered, 0);

    // A spare kept since the last sync is not written into: a machine crash could still bring
    // the delivered message's name back on it.
    PlantMessage(folder, Name(2));
    ASSERT_TRUE(KeepAsSpare(folder, folder + "/" + Name(2), 200));
    const ino_t unsynced = Inode(folder + "/spare-1.spare");
    TSmtpSendMail sender;
    sender.MailFrom = "form@example.org";
    sender.MailTo = "webmaster@example.org";
    sender.MailSubject = "short";
    sender.MailBody().Add("New text");
    struct Post {
        const char* what;
        ino_t inode;
    } posts[] = {{"the synced spare", delivered}, {"a new file, the unsynced spare left alone", 0}};
    std::vector<std::string> names;
    for (const Post& p : posts) {
        names.push_back(QueueMail(folder, sender, TQueuedRelay{}));
        const std::string path = folder + "/" + names.back();
        if (p.inode) EXPECT_EQ(Inode(path), p.inode) << p.what;
        else EXPECT_NE(Inode(path), unsynced) << p.what;
        const std::string text = Whole(path);
        EXPECT_EQ(text.find(old.substr(0, 100)), std::string::npos) << p.what;
        EXPECT_TRUE(text.ends_with("\r\n.\r\n")) << p.what;
    }
    EXPECT_FALSE(FileExists(spare));
    EXPECT_EQ(Inode(folder + "/spare-1.spare"), unsynced);
    EXPECT_EQ(FlushOutbox(folder, run).Delivered, 2);
    ASSERT_EQ(relay.MessageCount(), 3);
    for (int n : {2, 3}) {
        const std::string mail = Whole(relay.Message(n));
        EXPECT_NE(mail.find("New text"), std::string::npos) << mail;
        EXPECT_EQ(mail.find(old.substr(0, 100)), std::string::npos) << mail;
    }
}
