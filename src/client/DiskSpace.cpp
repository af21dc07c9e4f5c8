#include "client/DiskSpace.h"

#include <cstdio>

#include "base/StdioFile.h"

uint32_t QueryFileLength(const char* path) {
    StdioFile file;
    if (!file.Open(path, "rb")) return 0;
    int64_t length = QueryStreamLength(file.Get());
    return length > 0 ? static_cast<uint32_t>(length) : 0;
}

void FormatByteSize(std::string& text, int64_t bytes) {
    char buffer[512];
    if (bytes > 1073741824) {
        snprintf(buffer, sizeof(buffer), "%.2f GB", static_cast<double>(bytes) / 1073741824.0);
    } else if (bytes > 1048576) {
        snprintf(buffer, sizeof(buffer), "%.2f MB", static_cast<double>(bytes) / 1048576.0);
    } else if (bytes > 1024) {
        snprintf(buffer, sizeof(buffer), "%.2f KB", static_cast<double>(bytes) / 1024.0);
    } else {
        snprintf(buffer, sizeof(buffer), "%d B", static_cast<int>(bytes));
    }
    text += buffer;
}

std::string DrivePart(const char* folder) {
    char letter = folder[0];
    bool isLetter = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
    if (isLetter && folder[1] == ':') return std::string(folder, 2);
    return std::string();
}

std::string DiskSpaceMessage(const std::string& drive, int64_t shortfall) {
    std::string text = "检查到Velmora客户端所在的磁盘空间不足，\n";
    text += "请清理[";
    text += drive;
    text += "]盘空间，至少还需要";
    FormatByteSize(text, shortfall);
    text += "！\n";
    return text;
}

int64_t DiskShortfall(uint64_t needed, uint64_t freeBytes) {
    if (freeBytes > needed) return 0;
    return static_cast<int64_t>(needed - freeBytes + 1);
}

uint64_t PeakSpace(uint32_t packageLength, uint32_t archiveLength, uint64_t plainBytes) {
    return uint64_t{packageLength} + archiveLength + plainBytes;
}
