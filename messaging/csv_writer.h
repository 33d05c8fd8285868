// Comma-separated records as RFC 4180 has them: a field that holds a
// comma, a double quote, a carriage return or a line feed is quoted, its
// quotes doubled; records end with CR LF.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

std::string CsvField(const std::string& text);
// The fields joined by commas, ended by CR LF.
std::string CsvRecord(const std::vector<std::string>& fields);

// The shortest text that reads back as the same double ("0.1", "160",
// "1e+21"); "inf", "-inf" or "nan" for the values that are not finite.
std::string ShortestDouble(double value);

// The length of text's leading part that holds whole records: it ends
// after the last line break that is outside quotes. A record cut short (a
// power cut in the middle of a write) lies beyond it.
size_t WholeRecordsLength(const std::string& text);
// Number of whole records in text.
size_t CountCsvRecords(const std::string& text);
