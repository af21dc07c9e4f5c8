#include "GbkNames.h"

#include <cerrno>
#include <cstdio>

#include "HostFiles.h"

#ifndef _WIN32
#include <iconv.h>
#endif

std::vector<std::string> SplitGbkPath(const std::string& gbk) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < gbk.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(gbk[i]);
        if (IsGbkLeadByte(c) && i + 1 < gbk.size()) {
            parts.back() += gbk[i];
            parts.back() += gbk[++i];
        } else if (c == '\\' || c == '/') {
            parts.emplace_back();
        } else {
            parts.back() += gbk[i];
        }
    }
    return parts;
}

bool GbkEndsWithSeparator(const std::string& gbk) {
    return !gbk.empty() && SplitGbkPath(gbk).back().empty();
}

#ifndef _WIN32
namespace {

class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() { if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool Convert(const std::string& in, std::string* out) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) return false;
        out->clear();
        char* src = const_cast<char*>(in.data());
        size_t srcLeft = in.size();
        char chunk[1024];
        while (srcLeft > 0) {
            char* dst = chunk;
            size_t dstLeft = sizeof(chunk);
            const size_t rc = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            out->append(chunk, sizeof(chunk) - dstLeft);
            if (rc == static_cast<size_t>(-1) && errno != E2BIG) return false;
            // iconv counts characters it replaced on its own; GBK has no replacement to accept.
            if (rc != static_cast<size_t>(-1) && rc != 0) return false;
        }
        char* dst = chunk;
        size_t dstLeft = sizeof(chunk);
        if (iconv(cd_, nullptr, nullptr, &dst, &dstLeft) == static_cast<size_t>(-1)) return false;
        out->append(chunk, sizeof(chunk) - dstLeft);
        return true;
    }

private:
    iconv_t cd_;
};

}  // namespace

bool HostNameToGbk(const std::string& host, std::string* gbk) {
    Converter converter("GBK", "UTF-8");
    return converter.Convert(host, gbk);
}

bool GbkToHostName(const std::string& gbk, std::string* host) {
    Converter converter("UTF-8", "GBK");
    return converter.Convert(gbk, host);
}
#else
bool HostNameToGbk(const std::string& host, std::string* gbk) {
    if (!HostNamesAreGbk()) {
        for (unsigned char c : host) {
            if (c >= 0x80) return false;
        }
    }
    *gbk = host;
    return true;
}

bool GbkToHostName(const std::string& gbk, std::string* host) {
    *host = gbk;
    return true;
}
#endif

std::string ShowGbkName(const std::string& gbk) {
    std::string host;
    bool printable = GbkToHostName(gbk, &host);
    for (unsigned char c : host) {
        if (c < 0x20 || c == 0x7F) printable = false;
    }
    if (printable) return host;
    std::string shown;
    for (unsigned char c : gbk) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            shown += static_cast<char>(c);
        } else if (c == '\\') {
            shown += "\\\\";
        } else {
            char hex[8];
            snprintf(hex, sizeof(hex), "\\x%02X", c);
            shown += hex;
        }
    }
    return shown;
}

std::string WindowsNameProblem(const std::string& component) {
    if (component.empty()) return "empty name";
    for (size_t i = 0; i < component.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(component[i]);
        if (IsGbkLeadByte(c)) {
            ++i;
            continue;
        }
        if (c < 0x20 || c == 0x7F) return "control character in name";
        switch (c) {
        case '\\': case '/': return "separator inside a name";
        case ':': case '*': case '?': case '"': case '<': case '>': case '|':
            return std::string("'") + static_cast<char>(c) + "' is not allowed in Windows names";
        default: break;
        }
    }
    // Neither '.' nor ' ' can be a trail byte, so the last byte decides.
    const char last = component.back();
    if (last == '.' || last == ' ') return "Windows drops a trailing dot or blank from names";
    return std::string();
}

bool ArchiveNameToRelativePath(const std::string& gbk, std::vector<std::string>* components,
                               std::string* why) {
    components->clear();
    if (gbk.empty()) {
        *why = "empty name";
        return false;
    }
    const std::vector<std::string> parts = SplitGbkPath(gbk);
    if (parts.front().empty()) {
        *why = "absolute name";
        return false;
    }
    if (parts.back().empty()) {
        *why = "name ends with a separator";
        return false;
    }
    for (const std::string& part : parts) {
        if (part.empty() || part == ".") continue;
        // Windows drops trailing dots and blanks, so ". ." or "..." would also mean the parent.
        if (part.find_last_not_of(". ") == std::string::npos) {
            *why = "name leaves the folder (\"..\")";
            return false;
        }
        // Only single-byte ':' counts; a GBK trail byte is never 0x3A, so a byte scan is safe here.
        if (part.find(':') != std::string::npos) {
            *why = "drive letter or stream name (\":\")";
            return false;
        }
        if (part.find('\0') != std::string::npos) {
            *why = "NUL byte in name";
            return false;
        }
        std::string host;
        if (!GbkToHostName(part, &host)) {
            *why = "name is not valid GBK";
            return false;
        }
        components->push_back(host);
    }
    if (components->empty()) {
        *why = "name has no file component";
        return false;
    }
    return true;
}
