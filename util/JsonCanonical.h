// CanonicalJson: a value read by ParseJson written back as a browser's JSON.stringify writes it
// once every object's names are sorted, which is the text a proof-of-work signature covers.
#pragma once

#include <string>

#include "JsonReader.h"

namespace velmora {

// No white space, strings escaped as JavaScript escapes them, object names sorted by UTF-16 code
// units (as JavaScript sorts). Numbers must be plain integers (what challenges carry), written as
// JavaScript writes them; a value holding any other number ("1.50", "2e+3", "-0") gives "", as
// its text here and in a browser could differ.
std::string CanonicalJson(const TJsonValue& value);

}  // namespace velmora
