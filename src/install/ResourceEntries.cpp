#include "install/ResourceEntries.h"

#include "base/PathText.h"

namespace {

const char* const kResourceFolders[] = {"avatar", "effect", "item",  "magic", "map",    "object", "peffect",
                                        "Res",    "skill",  "smallnum", "tiles", "script", "sound",  "progeff"};

}  // namespace

bool IsResourceEntry(const char* name) {
    char first[kPathBufferSize];
    if (!FirstPathComponent(first, sizeof(first), name) || first[0] == '\0') return false;
    for (const char* folder : kResourceFolders) {
        if (EqualsIgnoringAsciiCase(first, folder)) return true;
    }
    return false;
}
