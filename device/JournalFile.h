#pragma once
// The journal as a file for spreadsheet programs in Russian locales: UTF-8 with a byte-order
// mark, fields separated by ';', lines ended with CR LF.

#include <string>
#include <vector>

namespace LIR {

// One line per row; a field holding ';', '"' or a line break is quoted, its quotes doubled.
std::string CsvText(const std::vector<std::vector<std::string>>& rows);

}  // namespace LIR
