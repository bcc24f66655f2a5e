// Address lists, placeholders and attachment lines of the mail sender.
// These only shape text; the sender decides where each result goes.
#include "MailText.h"

#include "SysUtils.h"

namespace velmora {

namespace {

bool EndsDisplayName(char c) { return c == ' ' || c == '<' || IsControlChar(c); }

// Cuts the next entry off rest: up to the first "," or, when there is none, the first ";".
std::string NextEntry(std::string& rest) {
    size_t sep = rest.find(',');
    if (sep == std::string::npos) sep = rest.find(';');
    if (sep == std::string::npos) {
        std::string entry = Trim(rest);
        rest.clear();
        return entry;
    }
    std::string entry = Trim(rest.substr(0, sep));
    rest = Trim(rest.substr(sep + 1));
    return entry;
}

std::string WithoutBrackets(const std::string& address) {
    std::string out;
    for (char c : address)
        if (c != '<' && c != '>' && c != ',') out += c;
    return out;
}

}  // namespace

std::string FormatAddressList(const std::string& text, bool withNames) {
    std::string result, rest = text;
    while (rest.size() > 1) {
        std::string entry = NextEntry(rest);
        std::string name, address = entry;
        size_t p = entry.size();
        while (p > 0 && !EndsDisplayName(entry[p - 1])) --p;
        if (p > 0) {
            name = Trim(entry.substr(0, p - 1));
            if (!name.empty()) address = Trim(entry.substr(p));
        }
        address = WithoutBrackets(address);
        if (!result.empty()) result += ',';
        if (withNames && !name.empty()) result += name + " ";
        result += "<" + address + ">";
    }
    return result;
}

std::string SafeAddressList(const std::string& text, bool withNames) {
    return FormatAddressList(BlankControlChars(text), withNames);
}

std::string ReplacePlaceholder(const std::string& text, const std::string& placeholder,
                               const std::string& value) {
    size_t at = UpperCase(text).find(UpperCase(placeholder));
    if (placeholder.empty() || at == std::string::npos) return text;
    return text.substr(0, at) + value + text.substr(at + placeholder.size());
}

TAttachmentLine SplitAttachmentLine(const std::string& line) {
    std::string trimmed = Trim(line);
    size_t open = trimmed.find('<');
    size_t close = trimmed.find('>');
    if (open != std::string::npos && close != std::string::npos && close == trimmed.size() - 1 &&
        open < close)
        return {Trim(trimmed.substr(0, open)), Trim(trimmed.substr(open + 1, close - open - 1))};
    return {trimmed, trimmed};
}

std::string AttachmentName(const std::string& displayName) {
    size_t cut = displayName.find_last_of("/\\:");
    return cut == std::string::npos ? displayName : displayName.substr(cut + 1);
}

}  // namespace velmora
