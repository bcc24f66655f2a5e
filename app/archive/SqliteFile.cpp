// Opening the SQLite file. A damaged file found while opening is moved aside at once; one found by
// a later statement is moved aside by the caller (see RequestArchive.cpp) and the write tried again.
#include "SqliteFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "ArchiveStore.h"
#include "Files.h"
#include "SqliteStatement.h"

namespace velmora {

namespace {

std::string Folder(const std::string& file) {
    size_t slash = file.rfind('/');
    return slash == std::string::npos ? "." : file.substr(0, slash);
}

// The folder 0700 and the file 0600, as the outbox's: they hold visitors' addresses and texts.
void MakePrivateFile(const std::string& file) {
    std::string folder = Folder(file);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw TArchiveError("folder " + folder + " cannot be made: " + std::strerror(errno));
    int fd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) throw TArchiveError(file + " cannot be opened: " + std::strerror(errno));
    close(fd);
}

sqlite3* OpenConnection(const TSqlite& api, const TArchiveSettings& s) {
    MakePrivateFile(s.File);
    sqlite3* db = nullptr;
    int rc = api.Open(s.File.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string why = db ? api.ErrorMessage(db) : "out of memory";
        api.Close(db);
        throw TArchiveError(s.File + " cannot be opened: " + why);
    }
    api.BusyTimeout(db, static_cast<int>(s.TimeoutMs));
    return db;
}

// The first statements read the file's header: a file that is no database fails here.
void SetUp(const TSqlite& api, sqlite3* db) {
    // Pages read through a mapping, not copied by read calls: what an export of many rows spends most on.
    for (const char* sql : {"PRAGMA journal_mode = WAL", "PRAGMA synchronous = FULL", "PRAGMA mmap_size = 268435456",
                            "SELECT count(*) FROM sqlite_schema"})
        SqliteCheck(api, db, api.Exec(db, sql, nullptr, nullptr, nullptr), sql);
}

std::string UtcStamp() {
    std::time_t t = std::time(nullptr);
    std::tm tm {};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &tm);
    return text;
}

uint64_t InodeOf(const std::string& file) {
    const TFileStamp stamp = GetFileStamp(file);
    return stamp.Exists ? stamp.Inode : 0;
}

}  // namespace

TSqliteFile::~TSqliteFile() {
    if (FDb) FApi->Close(FDb);
}

uint64_t FileIdentity(const std::string& file) { return InodeOf(file); }

void MoveAsideCorrupt(const std::string& file, uint64_t found, const std::function<void(const std::string&)>& log) {
    std::string lockPath = Folder(file) + "/.lock";
    int lock = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock >= 0) flock(lock, LOCK_EX);
    // Another process may have moved it already and begun a good file: that one is left alone.
    if (found != 0 && InodeOf(file) == found) {
        std::string aside = file + ".corrupt-" + UtcStamp();
        for (const char* side : {"", "-wal", "-shm"}) rename((file + side).c_str(), (aside + side).c_str());
        if (log) log("Archive " + file + " is damaged: moved aside as " + aside + ", a new one started");
    }
    if (lock >= 0) close(lock);
}

TSqliteFile OpenSqliteFile(const TArchiveSettings& settings, const std::function<void(const std::string&)>& log) {
    const TSqlite* api = Sqlite();
    if (!api) throw TArchiveError(std::string(SqliteLibraryName()) + " cannot be loaded (install libsqlite3-0)");
    TSqliteFile file(*api, OpenConnection(*api, settings));
    uint64_t found = InodeOf(settings.File);
    try {
        SetUp(*api, file.Db());
        return file;
    } catch (const TArchiveCorrupt&) {
    }
    { TSqliteFile closing(std::move(file)); }
    MoveAsideCorrupt(settings.File, found, log);
    TSqliteFile fresh(*api, OpenConnection(*api, settings));
    SetUp(*api, fresh.Db());
    return fresh;
}

}  // namespace velmora
