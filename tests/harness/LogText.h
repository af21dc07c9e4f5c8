// The install log read back, and GBK text shown readably in failure messages and tool output.
#pragma once

#include <string>
#include <vector>

namespace harness {

// The lines of an install log, each without its line end and without the "[hh:mm:ss] " stamp
// (a line without a stamp, such as the second line of a text with a line break, is kept whole).
// Empty when the file cannot be read.
std::vector<std::string> ReadLogLines(const std::string& path);
// True when every line of the install log carries a well-formed stamp.
bool AllLinesStamped(const std::string& path);

// For display: GBK (code page 936) text as UTF-8, and bytes as hex.
std::string GbkToUtf8(const std::string& gbk);
std::string HexBytes(const std::string& bytes);

}  // namespace harness
