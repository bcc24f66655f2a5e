// Client addresses as numbers: the text a web server gives (IPv4, IPv6 in any of its spellings)
// read into 16 bytes and written back in one canonical form, so that callers compare addresses.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace velmora {

// IPv6 byte order; an IPv4 address is held as its IPv4-mapped IPv6 address (::ffff:a.b.c.d).
using TIpBytes = std::array<uint8_t, 16>;

// The address of text: dotted IPv4 or IPv6 text (upper or lower case, "::" shortened or not,
// IPv4-mapped), optionally in brackets and with a zone ("%eth0", dropped). Empty when it is none.
std::optional<TIpBytes> ParseIpAddress(const std::string& text);

// Whether bytes is an IPv4 address (IPv4-mapped).
bool IsIpv4(const TIpBytes& bytes) noexcept;

// The canonical text: dotted for IPv4, RFC 5952 lower-case shortest form for IPv6.
std::string FormatIpAddress(const TIpBytes& bytes);

// bytes with every bit after the first prefixBits (0 to 128) cleared.
TIpBytes MaskIpAddress(TIpBytes bytes, int prefixBits) noexcept;

}  // namespace velmora
