#include "install/Leftovers.h"

#include "package/ArchiveCodec.h"

bool LooksLikeArchive(const std::string& head, uint64_t fileLength) {
    if (head.size() < kPackageHeaderSize) return false;
    const PackageHeader header = DecodeHeader(reinterpret_cast<const uint8_t*>(head.data()));
    return header.tag == kPackageTag && header.directoryOffset >= kPackageHeaderSize &&
           uint64_t{header.directoryOffset} + header.directorySize <= fileLength;
}

bool HasVersionLine(const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        const size_t equals = line.find('=');
        if (equals != std::string::npos && line.compare(0, equals, "ver") == 0) return true;
        start = end + 1;
    }
    return false;
}

bool ListCopyInterrupted(bool listExists, const std::string& list, const std::string& temporaryList) {
    if (temporaryList.empty() || temporaryList.back() != '\n') return false;
    if (!listExists || list.empty()) return true;
    return list.size() < temporaryList.size() && temporaryList.compare(0, list.size(), list) == 0;
}
