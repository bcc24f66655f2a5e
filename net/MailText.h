// Text rules of the mail sender that need no connection: address lists, header placeholders and
// attachment lines; values entering header text or SMTP commands pass BlankControlChars first.
#pragma once

#include <string>

#include "ControlChars.h"

namespace velmora {

// "a, B <b>" -> "<a>,<b>" (withNames: "<a>,B <b>"); entries split at "," or, without one, ";".
std::string FormatAddressList(const std::string& text, bool withNames);

// FormatAddressList of a value that may come from outside, its control characters blanked first:
// the form every address list takes into a command or a header line.
std::string SafeAddressList(const std::string& text, bool withNames);

// Replaces the first occurrence of placeholder (compared without regard to case) by value.
std::string ReplacePlaceholder(const std::string& text, const std::string& placeholder,
                               const std::string& value);

// An attachment line is a path, or a display name followed by the path in angle brackets.
struct TAttachmentLine {
    std::string DisplayName;
    std::string Path;
};
TAttachmentLine SplitAttachmentLine(const std::string& line);
// The file name shown to the recipient: the display name after its last "/", "\" or ":".
std::string AttachmentName(const std::string& displayName);

}  // namespace velmora
