// TSiteConfig: the site's own options, kept in the text file VELMORA.CONF beside the program, one
// `key = value` a line. Every key a feature reads is declared once in SiteConfigKeys.cpp.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Files.h"

namespace velmora {

enum class TConfKind {
    Text,    // any text, spaces around it trimmed
    Flag,    // yes/no (also on/off, true/false, 1/0)
    Choice,  // one word of Choices, case ignored
    Number,  // a whole number from Min to Max
};

struct TConfKey {
    std::string_view Name;     // lower case, as written in the file
    TConfKind Kind;
    std::string_view Default;  // as it would be written in the file
    std::string_view Choices = {};  // Choice: the allowed words, separated by "|"
    long Min = 0, Max = 0;     // Number: the range allowed
    bool Secret = false;       // its value never goes into a log line
};

// The declared keys, in the order doc/configuration.md lists them.
const std::vector<TConfKey>& SiteConfigKeys();

// Where a file's problems are reported, one message per call (the program passes WriteLog).
using TConfLog = std::function<void(const std::string&)>;

// The kinds of problem a reading reports, for a caller that explains how to mend each.
enum class TConfProblem {
    Unreadable,   // the file is there but cannot be read (or is no file)
    TooLong,      // a file or line longer than is read
    NotKeyValue,  // a line without "="
    UnknownKey,   // a key no feature reads (the message names the nearest known one)
    BadValue,     // a value outside the key's kind or range
};
using TConfProblemLog = std::function<void(TConfProblem kind, const std::string& message)>;
// log for the problems, their kinds ignored (nothing for no log).
TConfProblemLog ProblemLog(const TConfLog& log);

// The declared key nearest to name (by edits: a letter left out, added, changed or two swapped),
// "" when none is near enough to be a slip of the keyboard.
std::string NearestConfKey(std::string_view name);

// One reading of VELMORA.CONF. Values are checked when read: a getter returns the file's value or
// the key's default, never a malformed one. Asking for an undeclared key, or for a key of another
// kind, is a programming error and throws std::logic_error.
class TSiteConfig {
public:
    TSiteConfig();  // no file: every key at its default

    // Reads the file's text. A line is blank, a comment (first non-blank character "#") or
    // `key = value`; an unknown key, a bad value or a malformed line is logged with its line
    // number and ignored. A key given twice keeps its last value.
    static TSiteConfig Parse(std::string_view text, const TConfLog& log);
    // The same, each problem with its kind.
    static TSiteConfig ParseReporting(std::string_view text, const TConfProblemLog& log);
    // Reads the file at path, found as stamp says, without the cache of LoadSiteConfig.
    static TSiteConfig ReadFile(const std::string& path, const TFileStamp& stamp, const TConfLog& log);
    // The same, each problem with its kind.
    static TSiteConfig ReadFileReporting(const std::string& path, const TFileStamp& stamp, const TConfProblemLog& log);

    const std::string& Text(std::string_view key) const;  // Text and Choice keys (a choice in lower case)
    bool Flag(std::string_view key) const;
    long Number(std::string_view key) const;
    bool IsSet(std::string_view key) const;  // given in the file (with a good value)

    // The file as found when it was read: whether it was there, could be read, and whether group
    // or others may read it (a file holding a password must not be).
    const TFileStamp& Stamp() const noexcept { return FStamp; }
    bool Exists() const noexcept { return FStamp.Exists; }
    bool Unreadable() const noexcept { return FUnreadable; }
    bool ReadableByOthers() const noexcept { return velmora::ReadableByOthers(FStamp); }
    // The same for a reader that runs with group (velmora-ini check asks for the server's account).
    bool ReadableByOthers(unsigned group) const noexcept { return velmora::ReadableByOthers(FStamp, group); }

private:
    size_t Index(std::string_view key, TConfKind kind) const;

    std::vector<std::string> FValues;  // one per declared key, in table order
    std::vector<bool> FSet;
    TFileStamp FStamp;
    bool FUnreadable = false;
};

// The file at path as it is now. Costs one stat when the file is unchanged since the last call
// for that path (any thread); a changed, new or removed file is read again. Never throws: a file
// that cannot be read is logged and gives the defaults, with Unreadable() set.
std::shared_ptr<const TSiteConfig> LoadSiteConfig(const std::string& path, const TConfLog& log);

}  // namespace velmora
