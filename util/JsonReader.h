// ParseJson: a strict reader of one JSON document (RFC 8259) from an outside peer, such as a
// CAPTCHA provider's answer, into a small tree the caller looks members up in.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

struct TJsonMember;

struct TJsonValue {
    enum class TKind { Null, Bool, Number, String, Array, Object };
    TKind Kind = TKind::Null;
    bool Bool = false;
    double Number = 0;
    std::string Text;  // a string's value (UTF-8), or a number as it was written
    std::vector<TJsonValue> Items;                              // an array's elements
    std::vector<TJsonMember> Members;  // an object's members, in order

    // The object's member called name; null when there is none or this is no object.
    const TJsonValue* Member(std::string_view name) const;
    bool IsTrue() const noexcept { return Kind == TKind::Bool && Bool; }
    bool IsString() const noexcept { return Kind == TKind::String; }
    bool IsObject() const noexcept { return Kind == TKind::Object; }
};

struct TJsonMember {
    std::string Name;
    TJsonValue Value;
};

// Nesting deeper than this is refused: a peer's "[[[[..." must not exhaust the stack.
constexpr int kJsonMaxDepth = 64;

// The document text holds, or nullopt with the reason in why. Refused besides malformed text:
// bytes that are not UTF-8, an unpaired surrogate escape, an object naming one member twice (the
// two readers of such a document may disagree on its meaning) and nesting beyond maxDepth.
std::optional<TJsonValue> ParseJson(std::string_view text, std::string* why = nullptr, int maxDepth = kJsonMaxDepth);

}  // namespace velmora
