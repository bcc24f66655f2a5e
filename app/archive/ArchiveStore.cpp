// Chooses the store the site's archive key names, and the address match erasure relies on.
#include "ArchiveStore.h"

#include <cctype>

#include "PgArchive.h"
#include "SqliteArchive.h"

namespace velmora {

namespace {

// The characters an address's local part or domain may hold: a match next to one of these is
// part of a longer address, which an erasure must not take for the one asked for.
bool AddressChar(unsigned char c) { return std::isalnum(c) || c == '.' || c == '_' || c == '%' || c == '+' || c == '-'; }

bool SameIgnoringCase(const std::string& text, size_t at, const std::string& word) {
    for (size_t i = 0; i < word.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[at + i])) != std::tolower(static_cast<unsigned char>(word[i])))
            return false;
    return true;
}

}  // namespace

std::unique_ptr<TArchiveStore> OpenArchive(const TArchiveSettings& settings) {
    switch (settings.Kind) {
        case TArchiveKind::Sqlite: return OpenSqliteArchive(settings, nullptr);
        case TArchiveKind::Postgresql: return OpenPgArchive(settings);
        case TArchiveKind::Off: break;
    }
    return nullptr;
}

bool HoldsAddress(const std::string& value, const std::string& address) {
    if (address.empty() || value.size() < address.size()) return false;
    for (size_t at = 0; at + address.size() <= value.size(); ++at) {
        if (!SameIgnoringCase(value, at, address)) continue;
        bool before = at > 0 && AddressChar(static_cast<unsigned char>(value[at - 1]));
        size_t end = at + address.size();
        // A full stop after the address ends a sentence; a letter after it would lengthen the domain.
        bool after = end < value.size() && AddressChar(static_cast<unsigned char>(value[end])) &&
                     !(value[end] == '.' && (end + 1 == value.size() || !std::isalnum(static_cast<unsigned char>(value[end + 1]))));
        if (!before && !after) return true;
    }
    return false;
}

}  // namespace velmora
