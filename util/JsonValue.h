// A small strict JSON reader for the few JSON texts a client sends (the proof-of-work payload),
// and the canonical writing of a value that a browser's JSON.stringify gives after sorting keys,
// which is the text such a payload's signature covers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velmora {

struct TJsonMember;

struct TJsonValue {
    enum class TKind { Null, False, True, Number, String, Array, Object };
    TKind Kind = TKind::Null;
    std::string Text;  // a string's value (UTF-8), or a number as written
    std::vector<TJsonValue> Items;                              // an array's
    std::vector<TJsonMember> Members;  // an object's, as written

    // The member of that name, or null (also when this is no object).
    const TJsonValue* Find(std::string_view name) const;
    bool IsString() const noexcept { return Kind == TKind::String; }
    bool IsObject() const noexcept { return Kind == TKind::Object; }
};

struct TJsonMember {
    std::string Name;
    TJsonValue Value;
};

// Reads one JSON value (RFC 8259) filling all of text, white space around it allowed. Refused:
// anything malformed, strings that are not valid UTF-8 or hold a lone surrogate, an object with
// a name twice (readers differ on which one counts), nesting deeper than maxDepth.
bool ParseJson(std::string_view text, TJsonValue& out, int maxDepth = 16);

// The value as JSON.stringify writes it once every object's names are sorted (by UTF-16 code
// units, as JavaScript sorts): no white space, strings escaped as JavaScript escapes them,
// numbers as they were written.
std::string CanonicalJson(const TJsonValue& value);

}  // namespace velmora
