// Comma-separated values as spreadsheet programs read them: fields with a
// comma, a double quote, CR or LF are quoted with quotes doubled, and every
// record ends with CR LF on every platform.
#pragma once
#include <string>
#include <vector>

namespace qs::cli {

// A text that begins with = + - @ (or TAB, CR) is taken for a formula by
// spreadsheet programs; device-supplied texts (a serial) could run one, so
// such a field gets a leading apostrophe.
std::string CsvField(const std::string& text);
// The fields, comma-separated, and CR LF.
std::string CsvRecord(const std::vector<std::string>& fields);

// The bytes as they are on stdout (no LF to CR LF translation on Windows).
void WriteStdoutBytes(const std::string& bytes);

}  // namespace qs::cli
