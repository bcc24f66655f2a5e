// The resident exchange's files, shared by both CGI engines: the exchange folder and its names,
// the queue file of 268-byte records (the list of waiting requests and the lock between
// processes), the per-thread TServerData, and the sweep of leftover request and answer files.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ExclusiveFile.h"

namespace velmora {

enum TQueueStatus { qsWaiting = 0, qsTaken = 1, qsDone = 2, qsServerGone = 3, qsQueueLocked = 4 };

constexpr size_t kQueueRecordSize = 268;
constexpr size_t kQueueNameSize = 256;  // zero-terminated, so at most 255 characters

// One queue entry. Queued is days since 1899-12-30, local time: written, never read.
struct TQueueRecord {
    uint8_t Status = qsWaiting;
    double Queued = 0;
    std::string FileName;  // the request file, or the profile of a profile-file request
};
// True when name fits a record whole. A name cut to fit would be another file's (the client
// would wait for a record that is not there) and could end in "_REQ" or not by accident.
bool FitsQueueRecord(const std::string& name);
std::string EncodeQueueRecord(const TQueueRecord& record);
TQueueRecord DecodeQueueRecord(const char* bytes);  // kQueueRecordSize bytes
// The whole records of a queue file's bytes; a torn one at the end is left out.
std::vector<TQueueRecord> DecodeQueueRecords(const std::string& bytes);

// Names of the exchange, worked out once: the folder "Temp" beside the program, or the program's
// own folder when "Temp" is taken by something that is not a folder. Naming makes nothing.
struct TExchangeNames {
    std::string Folder;       // with its trailing "/"
    std::string Base;         // Folder + the program's file name
    std::string QueueFile;    // Base + "_S"
    std::string WindowTitle;  // the program's file name + "_S": the resident server's title
};
const TExchangeNames& ExchangeNames();
// Makes the exchange folder (only its owner may enter it) when missing, once per process; called
// before the first file is written into it. False when it cannot be made.
bool PrepareExchangeFolder();

// The request file's name and, from it, the answer file's (the final "REQ" becomes "OUT").
std::string RequestFileNameFor(const std::string& key);
std::string AnswerFileNameFor(const std::string& requestFileName);
// A standard CGI record: its name ends with the first "_REQ" it holds.
bool IsStandardRequestName(const std::string& name);

// False when the environment holds CGI_SERVER_POLL_ONLY (any value): then client and server only
// poll, as an exchange without change notices does.
bool ExchangeWakeEnabled();

bool QueueFileExists();
// The queue file's last write (the server's heartbeat) is more than 30 seconds old.
bool QueueFileStale();

// What one thread knows of its part in the exchange. Freeing it deletes the queue file when this
// object made it (the resident server's end).
struct TServerData {
    ~TServerData();
    bool OwnsQueueFile = false;
    std::string EntryName;  // the name this client queued its request under
};
// The calling thread's object; null until made.
std::unique_ptr<TServerData>& ServerData();

// Opens the queue file with exclusive access, trying for as long as 11 attempts with pauseMs
// after each failed one would take; stops at once when there is no queue file.
TExclusiveOpen OpenQueue(TExclusiveFile& file, bool writable, unsigned pauseMs);
// Every whole record of the open queue file, in order; a torn record at the end is ignored.
std::vector<TQueueRecord> ReadRecords(TExclusiveFile& file);
// Replaces the open file's records by these, in place (the lock stays held throughout, so no
// record another process appends can fall between the read and this write), and sets its
// last-write time.
bool WriteRecords(TExclusiveFile& file, const std::vector<TQueueRecord>& records);
// Appends one record after the last whole one and sets the last-write time.
bool AppendRecord(TExclusiveFile& file, const TQueueRecord& record);

// Deletes request and answer files left in the exchange folder, except the files of the request
// names in keep (and their answers) and files written to within the last minutes: a client
// writes its request file before it queues the record, so a young file may still be filling.
void SweepExchangeFiles(const std::set<std::string>& keep = {});

}  // namespace velmora
