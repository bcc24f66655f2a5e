// Form data strings: URL coding and the two look-ups (one field's values, the list of names) that
// every engine answers GetFormField and GetFormFieldNames with. Pure functions, safe on any thread.
#pragma once

#include <memory>
#include <string>

#include "StringList.h"

namespace velmora {

// "+" becomes a blank, "%" with two hex digits the byte of that value; anything else, including a
// "%" without two hex digits after it, is copied. The result is never longer than s.
std::string URLDecode(const std::string& s);

// Letters, digits, ".", "/" and "\" stay, a blank becomes "+", every other byte "%XX" (upper case).
std::string URLEncode(const std::string& s);

// All values of the field name in data (pairs name=value joined by "&"), decoded and joined by
// CR LF in order of appearance; def when the field does not occur. Names compare decoded,
// upper-cased and trimmed; only the first "=" of a pair separates, a piece without "=" is read
// together with the next pair as one name, and the data is read only up to a zero byte.
std::string FindFormValue(const std::string& name, const std::string& data, const std::string& def);

// FindFormValue in time independent of the form's size: the first look-up in data builds an index
// of all its fields, later ones use it. For the form data a request keeps until it ends (the
// index is known by the string's place and size): each request starts with ForgetFormIndex, so
// a later request's data in the same place is never answered from an old index.
std::string FindFormValueIndexed(const std::string& name, const std::string& data, const std::string& def);
void ForgetFormIndex() noexcept;

// The decoded field names of data in order; a name equal to the one listed just before it is
// listed once. Pieces without "=" are skipped.
std::unique_ptr<TStringList> ParseFormFieldNames(const std::string& data);

}  // namespace velmora
