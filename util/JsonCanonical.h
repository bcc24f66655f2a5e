// CanonicalJson: a value read by ParseJson written back as a browser's JSON.stringify writes it
// once every object's names are sorted, which is the text a proof-of-work signature covers.
#pragma once

#include <string>

#include "JsonReader.h"

namespace velmora {

// No white space, strings escaped as JavaScript escapes them, numbers as they were written,
// object names sorted by UTF-16 code units (as JavaScript sorts).
std::string CanonicalJson(const TJsonValue& value);

}  // namespace velmora
