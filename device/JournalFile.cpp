#include "device/JournalFile.h"

namespace LIR {
namespace {

std::string Field(const std::string& text) {
  if (text.find_first_of(";\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

}  // namespace

std::string CsvText(const std::vector<std::vector<std::string>>& rows) {
  std::string text = "\xEF\xBB\xBF";  // the mark that makes spreadsheets read UTF-8
  for (const std::vector<std::string>& row : rows) {
    for (size_t i = 0; i < row.size(); ++i)
      text += (i ? ";" : "") + Field(row[i]);
    text += "\r\n";
  }
  return text;
}

}  // namespace LIR
