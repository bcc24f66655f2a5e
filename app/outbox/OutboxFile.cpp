// The outbox's files: names that carry the retry state, the message file written atomically, and
// its header read back. A file is complete or absent: it appears in the folder only by a rename.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

#include "ControlChars.h"
#include "ExclusiveFile.h"
#include "Files.h"
#include "Outbox.h"
#include "OutboxFolderSync.h"
#include "SysUtils.h"

namespace velmora {

namespace {

constexpr const char* kMagic = "Velmora outbox 1";
constexpr const char* kDataEnd = "\r\n.\r\n";
// A header of one sender and a few recipients is far below this.
constexpr long kMaxHeader = 64 * 1024;

bool ParseInt(const std::string& s, int64_t& out) {
    if (s.empty() || s.size() > 18) return false;
    out = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        out = out * 10 + (c - '0');
    }
    return true;
}

std::string NewId(int64_t queued) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char id[64];
    std::snprintf(id, sizeof id, "%010lld-%016llx", static_cast<long long>(queued),
                  static_cast<unsigned long long>(random()));
    return id;
}

// One line of the header; the values come from the form, so no line break may get through.
std::string HeaderLine(const std::string& key, const std::string& value) {
    return key + ": " + BlankControlChars(value) + "\n";
}

std::string HeaderText(const TMailEnvelope& envelope, const TQueuedRelay& relay) {
    std::string text = std::string(kMagic) + "\n";
    text += HeaderLine("relay", relay.Configured ? "configured" : relay.Host + " " + relay.Port);
    text += HeaderLine("mail-from", envelope.MailFrom);
    for (const std::string& r : envelope.Recipients) text += HeaderLine("rcpt-to", r);
    return text + "\n";
}

// The folder is made by the first mail kept, not looked for before every one. Concurrent first
// posts all miss it; the one that finds it made by another meanwhile tries once more.
std::unique_ptr<THandleStream> CreateInFolder(const std::string& folder, const std::string& temp) {
    try {
        return CreatePrivateFile(temp, true);
    } catch (const EFCreateError&) {
        if (!CreatePrivateDir(folder)) throw EFCreateError("Cannot create the outbox folder \"" + folder + "\"");
    }
    return CreatePrivateFile(temp, true);
}

}  // namespace

int64_t UnixNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

int64_t RetryDelay(int attempts) {
    static const int64_t minutes[] = {1, 5, 15, 60};
    int i = std::clamp(attempts, 1, 4) - 1;
    return minutes[i] * 60;
}

std::string OutboxName(const std::string& id, int attempts, int64_t nextTry, int unanswered) {
    const std::string tries = std::to_string(attempts) + (unanswered > 0 ? "-" + std::to_string(unanswered) : "");
    return id + "." + tries + "." + std::to_string(nextTry) + ".mail";
}

bool ParseOutboxName(const std::string& name, TOutboxEntry& e) {
    std::vector<std::string> parts;
    for (size_t start = 0;;) {
        size_t dot = name.find('.', start);
        parts.push_back(name.substr(start, dot - start));
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    if (parts.size() != 4) return false;
    int64_t attempts = 0, unanswered = 0;
    size_t dash = parts[0].find('-'), triesDash = parts[1].find('-');
    if (triesDash != std::string::npos && (!ParseInt(parts[1].substr(triesDash + 1), unanswered) || unanswered > 1000))
        return false;
    if (parts[3] != "mail" || dash == std::string::npos || !ParseInt(parts[0].substr(0, dash), e.Queued) ||
        !ParseInt(parts[1].substr(0, triesDash), attempts) || attempts > 1000000 || !ParseInt(parts[2], e.NextTry))
        return false;
    e.Name = name;
    e.Id = parts[0];
    e.Attempts = static_cast<int>(attempts);
    e.Unanswered = static_cast<int>(unanswered);
    return true;
}

std::vector<TOutboxEntry> ListOutbox(const std::string& folder) {
    std::vector<TOutboxEntry> entries;
    for (const std::string& name : ListFiles(folder + "/*.mail")) {
        TOutboxEntry e;
        if (ParseOutboxName(name, e)) entries.push_back(e);
    }
    std::sort(entries.begin(), entries.end(), [](const TOutboxEntry& a, const TOutboxEntry& b) {
        return a.Queued != b.Queued ? a.Queued < b.Queued : a.Id < b.Id;
    });
    return entries;
}

std::string UndeliverableFolder(const std::string& folder) { return folder + "/" + kUndeliverable; }

std::string QueueMail(const std::string& folder, TSmtpSendMail& sender, const TQueuedRelay& relay) {
    int64_t now = UnixNow();
    std::string id = NewId(now), temp = folder + "/" + id + ".tmp";
    // A spare of this process's sender is written over rather than a new file made: the inode
    // and its blocks are reused. The new bytes are synced and the file renamed exactly as a new
    // one's, so a crash leaves either no message or the whole one.
    int64_t spareSize = -1;
    std::unique_ptr<THandleStream> file = TakeSpare(folder, temp, spareSize);
    for (int attempt = 0; attempt < 10 && !file; ++attempt) {
        id = NewId(now);
        temp = folder + "/" + id + ".tmp";
        file = attempt == 0 ? CreateInFolder(folder, temp) : CreatePrivateFile(temp, true);
    }
    if (!file) throw EFCreateError("Cannot find a free name in the outbox \"" + folder + "\"");
    // A relay that got the data without answering may deliver it: that copy counts.
    std::string path = folder + "/" + OutboxName(id, 0, now, sender.DataUnanswered() ? 1 : 0);
    try {
        std::string header = HeaderText(sender.Envelope(), relay);
        int64_t bytes = static_cast<int64_t>(header.size());
        file->WriteString(header);
        sender.ComposeData([&](const std::string& text) {
            file->WriteString(text);
            bytes += static_cast<int64_t>(text.size());
        });
        if (spareSize > bytes) file->SetSize(bytes);  // no tail of the spare's former message
        // On disk before the rename makes it a message, and the rename on disk before the visitor
        // is told the message is taken: a crash of the machine must not lose what was promised.
        // The folder's sync is shared with the posts renaming at the same time.
        if (!SyncToDisk(*file) || !file->Close()) throw EWriteError("Cannot write \"" + temp + "\" to the disk");
        if (!RenameFile(temp, path)) throw EWriteError("Cannot rename \"" + temp + "\" in the outbox");
        if (!SyncOutboxFolder(folder)) {
            DeleteFile(path);
            throw EWriteError("Cannot write the outbox folder \"" + folder + "\" to the disk");
        }
        CountKeptMail(folder, ExtractFileName(path), bytes);
    } catch (...) {
        file.reset();
        DeleteFile(temp);
        throw;
    }
    return ExtractFileName(path);
}

bool ReadQueuedMail(TStream& file, TQueuedMail& mail, std::string& why) {
    std::string head(kMaxHeader, '\0');
    file.SetPosition(0);
    head.resize(static_cast<size_t>(std::max(file.Read(head.data(), kMaxHeader), 0L)));
    size_t end = head.find("\n\n");
    if (head.rfind(std::string(kMagic) + "\n", 0) != 0 || end == std::string::npos) {
        why = "not an outbox message";
        return false;
    }
    mail = TQueuedMail();
    bool relaySeen = false;
    size_t pos = std::string(kMagic).size() + 1;
    while (pos <= end) {
        size_t eol = head.find('\n', pos);
        std::string line = head.substr(pos, eol - pos);
        pos = eol + 1;
        size_t colon = line.find(": ");
        std::string key = line.substr(0, colon), value = colon == std::string::npos ? "" : line.substr(colon + 2);
        if (key == "mail-from") mail.Envelope.MailFrom = value;
        else if (key == "rcpt-to") mail.Envelope.Recipients.push_back(value);
        else if (key == "relay") {
            relaySeen = true;
            size_t blank = value.rfind(' ');
            mail.Relay.Configured = value == "configured";
            if (!mail.Relay.Configured && blank != std::string::npos) {
                mail.Relay.Host = value.substr(0, blank);
                mail.Relay.Port = value.substr(blank + 1);
            }
        }
    }
    if (!relaySeen || (!mail.Relay.Configured && mail.Relay.Host.empty())) {
        why = "no relay named";
        return false;
    }
    // The DATA text ends in the "." line; anything else is a message cut short.
    const int64_t tail = 5;
    char last[tail] = {};
    int64_t size = file.Size();
    file.SetPosition(std::max<int64_t>(size - tail, 0));
    if (size < static_cast<int64_t>(end + 2) + tail || file.Read(last, tail) != tail ||
        std::string(last, tail) != kDataEnd) {
        why = "the message text is incomplete";
        return false;
    }
    mail.DataOffset = static_cast<int64_t>(end + 2);
    file.SetPosition(mail.DataOffset);
    return true;
}

}  // namespace velmora
