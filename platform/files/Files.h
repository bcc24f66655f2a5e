// File and path services: existence tests, folders, deletion, renaming, appending one line, and
// the path rules of this system ("/" separator; a path is absolute when it begins with "/").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

constexpr char PathDelim = '/';

bool IsAbsolutePath(const std::string& path) noexcept;
// Folder part with its trailing "/", file-name part, and extension from the last "." of the name.
std::string ExtractFilePath(const std::string& path);
std::string ExtractFileDir(const std::string& path);  // without the trailing "/"
std::string ExtractFileName(const std::string& path);

bool FileExists(const std::string& path);       // a regular file (or anything but a folder)
bool DirectoryExists(const std::string& path);
// A folder that is itself no symbolic link (the link's target is not looked at).
bool RealDirectoryExists(const std::string& path);
// A regular file: not a folder, FIFO, socket or device, whose open or read could block or never end.
bool IsRegularFile(const std::string& path);
bool PathExists(const std::string& path);
// mode: the permission bits asked for (the umask still applies).
bool CreateDir(const std::string& path, unsigned mode = 0777);
bool DeleteFile(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);  // replaces `to` atomically
// Appends bytes with one write on a descriptor opened for appending, so lines of several
// processes never interleave. A missing file is made with mode (less the umask). False on any failure.
bool AppendToFile(const std::string& path, const std::string& bytes, unsigned mode = 0666);

// One entry of a directory search ("find first").
struct TSearchRec {
    std::string Name;  // file name without folder
    int64_t Size = 0;
    int Attr = 0;
    double Time = 0;   // last write, TDateTime
};
constexpr int faReadOnly = 0x01, faHidden = 0x02, faSysFile = 0x04, faVolumeID = 0x08,
              faDirectory = 0x10, faArchive = 0x20, faAnyFile = 0x3F;
// The first entry matching pattern (folder + wildcard name) whose attributes fit attr; 0 when
// found, else an error code (2: file not found, 3: path not found).
int FindFirstFile(const std::string& pattern, int attr, TSearchRec& rec);
// The names (without folder) of the files, not folders, that match pattern (folder + wildcard name).
std::vector<std::string> ListFiles(const std::string& pattern);

// What a path names right now (links followed): enough to tell whether a file changed since it
// was last read, and who besides its owner may read it.
struct TFileStamp {
    bool Exists = false;
    bool Regular = false;
    int64_t Size = 0;
    int64_t ModifiedNs = 0;
    uint64_t Device = 0, Inode = 0;
    unsigned Mode = 0;  // the permission bits
    unsigned Group = 0;  // the file's group
    bool operator==(const TFileStamp&) const = default;
};
TFileStamp GetFileStamp(const std::string& path);
// The names in a folder ("." and ".." left out), at most maxEntries of them; none when it cannot
// be read.
std::vector<std::string> ListFolder(const std::string& dir, size_t maxEntries);
// The absolute path with every symbolic link, "." and ".." resolved; "" when it does not exist.
std::string RealPath(const std::string& path);
// The group this process runs as (its effective group).
unsigned ProcessGroup() noexcept;
// Other accounts may read it: others, or a group other than group, the one the reader runs as. A
// file readable by its reader's own group (root:www-data 0640 for a server running as www-data)
// is for that server alone, and its owner may keep it unwritable for the server.
inline bool ReadableByOthers(const TFileStamp& stamp, unsigned group) noexcept {
    return (stamp.Mode & 0004) != 0 || ((stamp.Mode & 0040) != 0 && stamp.Group != group);
}
inline bool ReadableByOthers(const TFileStamp& stamp) noexcept { return ReadableByOthers(stamp, ProcessGroup()); }

}  // namespace velmora
