// FastCGI name-value pairs (a request's parameters, the names of GET_VALUES and its answer):
// decoding with every length checked against the bytes present, and encoding.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora::fcgi {

using TPairs = std::vector<std::pair<std::string, std::string>>;

// Appends the pairs of bytes to pairs; false (pairs then partly filled) when a length reaches past
// the end of bytes or there are more than maxCount pairs in all.
bool DecodePairs(std::string_view bytes, size_t maxCount, TPairs& pairs);
void EncodePair(std::string& out, std::string_view name, std::string_view value);

}  // namespace velmora::fcgi
