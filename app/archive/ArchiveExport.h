// Submissions written out for people and scripts: CSV by RFC 4180 for a spreadsheet (cells a
// spreadsheet would run as a formula defused), JSON or NDJSON with the fields as an ordered list.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "Submission.h"

namespace velmora {

enum class TExportFormat { Csv, Json, Ndjson };

// A field's bytes as UTF-8: Latin-1 text converted, other text as it is.
std::string FieldText(const TSubmission& s, const std::string& bytes);

// One CSV cell, quoted when it must be; a cell starting with = + - @ tab or CR gets a leading '.
std::string CsvCell(const std::string& text);

// The CSV's columns: the fixed ones, then fieldNames (the order first seen).
std::string CsvHeader(const std::vector<std::string>& fieldNames);
std::string CsvRow(const TSubmission& s, const std::vector<std::string>& fieldNames);

// One submission as a JSON object (no line break inside).
std::string JsonObject(const TSubmission& s);

// "YYYY-MM-DDTHH:MM:SS.mmmZ".
std::string UtcText(int64_t unixMs);
// Parses "YYYY-MM-DD" or "YYYY-MM-DDTHH:MM:SS[Z]" as UTC; -1 when it is neither.
int64_t ParseUtcText(const std::string& text);

}  // namespace velmora
