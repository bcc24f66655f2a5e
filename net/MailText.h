// Text rules of the mail sender that need no connection: the one check for values entering header
// text or SMTP commands, address lists, header placeholders and attachment lines.
#pragma once

#include <string>

namespace velmora {

// Every control character (below 0x20, and 0x7F) becomes a blank, so that a value can never end
// a header line or an SMTP command and start one of its own (header or command injection).
std::string BlankControlChars(std::string value);

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
