// Answers to management records (request id 0), which a web server may send on any connection
// between any two records: GET_VALUES, and UNKNOWN_TYPE for every other type.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::fcgi {

// Appends the answer to a management record of this type and content; false (nothing appended)
// when a GET_VALUES record's names are malformed.
bool AnswerManagement(std::string& out, uint8_t type, std::string_view content, int maxConnections);

}  // namespace velmora::fcgi
