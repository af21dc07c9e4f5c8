#include "LogText.h"

#include <windows.h>

#include "support/Files.h"

namespace harness {
namespace {

bool IsStamp(const std::string& line)
{
    // "[hh:mm:ss] "
    if (line.size() < 11 || line[0] != '[' || line[3] != ':' || line[6] != ':' || line[9] != ']' || line[10] != ' ')
        return false;
    for (int i : {1, 2, 4, 5, 7, 8})
        if (line[i] < '0' || line[i] > '9')
            return false;
    return true;
}

std::vector<std::string> RawLines(const std::string& path, bool* ok)
{
    std::vector<std::string> lines;
    std::string text;
    *ok = velsupport::ReadFileText(path, &text);
    if (!*ok)
        return lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        size_t next = end == std::string::npos ? text.size() : end + 1;
        if (end == std::string::npos)
            end = text.size();
        if (end > start && text[end - 1] == '\r')
            --end;
        lines.push_back(text.substr(start, end - start));
        start = next;
    }
    return lines;
}

}  // namespace

std::vector<std::string> ReadLogLines(const std::string& path)
{
    bool ok = false;
    std::vector<std::string> lines = RawLines(path, &ok);
    for (std::string& line : lines)
        if (IsStamp(line))
            line.erase(0, 11);
    return lines;
}

bool AllLinesStamped(const std::string& path)
{
    bool ok = false;
    std::vector<std::string> lines = RawLines(path, &ok);
    if (!ok)
        return false;
    for (const std::string& line : lines)
        if (!IsStamp(line))
            return false;
    return true;
}

std::string GbkToUtf8(const std::string& gbk)
{
    if (gbk.empty())
        return {};
    const int n = static_cast<int>(gbk.size());
    int wlen = MultiByteToWideChar(936, 0, gbk.data(), n, nullptr, 0);
    if (wlen <= 0)
        return gbk;
    std::wstring wide(static_cast<size_t>(wlen), L'\0');
    MultiByteToWideChar(936, 0, gbk.data(), n, &wide[0], wlen);
    int ulen = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wlen, nullptr, 0, nullptr, nullptr);
    if (ulen <= 0)
        return gbk;
    std::string utf8(static_cast<size_t>(ulen), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wlen, &utf8[0], ulen, nullptr, nullptr);
    return utf8;
}

std::string HexBytes(const std::string& bytes)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    return hex;
}

}  // namespace harness
