#include "install/DeleteList.h"

#include <share.h>

#include <cstdio>

#include "base/PathText.h"
#include "base/StdioFile.h"
#include "install/Transaction.h"

namespace {

// The longest line that is read as a name; longer lines are dropped whole.
constexpr size_t kMaxLineLength = kPathBufferSize - 2;

enum class LineRead { kLine, kTooLong, kEnd };

// Reads one line without its line end (text mode has already turned CR LF into LF). A line
// longer than kMaxLineLength is consumed to its end and reported as kTooLong: a cut name
// could denote some other file.
LineRead ReadLine(FILE* file, char* line, size_t lineSize) {
    size_t length = 0;
    bool tooLong = false;
    int c = getc(file);
    if (c == EOF) return LineRead::kEnd;
    for (; c != EOF && c != '\n'; c = getc(file)) {
        if (length < kMaxLineLength && length + 1 < lineSize) {
            line[length++] = static_cast<char>(c);
        } else {
            tooLong = true;
        }
    }
    line[length] = '\0';
    return tooLong ? LineRead::kTooLong : LineRead::kLine;
}

}  // namespace

bool ReadDeleteList(const char* listFile, std::vector<std::string>* targets) {
    targets->clear();
    // Other programs may keep the list open for reading or writing meanwhile.
    StdioFile list(_fsopen(listFile, "r", _SH_DENYNO));
    if (list.Get() == nullptr) return false;

    char line[kPathBufferSize];
    for (;;) {
        LineRead read = ReadLine(list.Get(), line, sizeof(line));
        if (read == LineRead::kEnd) break;
        if (read == LineRead::kTooLong) continue;

        // The path's limit is one below the buffer's, so names of 257 and 258 characters are
        // too long as well.
        char path[kPathBufferSize];
        if (!FormatBounded(path, kPathBufferSize - 1, ".\\%s", line)) continue;
        if (TrimBlanks(path) <= 2) continue;  // blanks only, or nothing

        // The list travels inside the patch: whatever it names must lie inside the client
        // folder and must not be the folder itself (".", "sub\\..", a drive, a root, "..").
        if (!IsContainedRelativePath(path + 2) || !IsOutsideStaging(path + 2)) continue;
        targets->push_back(path);
    }
    return ferror(list.Get()) == 0;
}
