#include "package/KeptEntries.h"

#include <vector>

#include "package/PackageReader.h"
#include "package/PackageWriter.h"

void CollectEntryNames(PackageReader& reader, PackageNameSet& names) {
    names.clear();
    PackageEntry entry;
    for (bool more = reader.First(entry); more; more = reader.Next(entry)) names.insert(entry.name);
}

namespace {

// Stored bytes are copied in blocks of this size: one read and one write per block.
constexpr uint32_t kCopyBlock = PackageReader::kInitialBufferSize;

// Copies the stored bytes of entries[first, last), which lie back to back in the client
// archive, to the end of the writer's data and lists each entry there. False with failedName
// set when a block cannot be read or written.
bool CopyRun(PackageReader& client, PackageWriter& writer, const std::vector<PackageEntry>& entries, size_t first,
             size_t last, std::string& failedName) {
    const uint32_t start = entries[first].dataOffset;
    const uint64_t runEnd = static_cast<uint64_t>(entries[last - 1].dataOffset) + entries[last - 1].storedSize;
    if (runEnd > client.FileLength() || runEnd > 0xFFFFFFFFu) {
        // A damaged record: its bytes lie past the end of the archive (even when it has none)
        // or past what 32-bit offsets reach.
        size_t i = first;
        while (i + 1 < last && uint64_t{entries[i].dataOffset} + entries[i].storedSize <= client.FileLength()) ++i;
        failedName = entries[i].name;
        return false;
    }
    const uint32_t end = static_cast<uint32_t>(runEnd);
    const uint32_t base = writer.DataEnd();
    for (uint32_t at = start; at < end;) {
        const uint32_t count = end - at < kCopyBlock ? end - at : kCopyBlock;
        const uint8_t* stored = client.ReadStored(at, count);
        if (stored == nullptr || !writer.AppendData(stored, count)) {
            // The entry whose bytes could not be copied.
            size_t i = first;
            while (i + 1 < last && entries[i].dataOffset + entries[i].storedSize <= at) ++i;
            failedName = entries[i].name;
            return false;
        }
        at += count;
    }
    for (size_t i = first; i < last; ++i) {
        const PackageEntry& kept = entries[i];
        if (!writer.AddRecord(kept.name, base + (kept.dataOffset - start), kept.size, kept.storedSize, kept.flags)) {
            failedName = kept.name;
            return false;
        }
    }
    return true;
}

}  // namespace

bool CopyStoredEntry(PackageReader& from, PackageWriter& to, const PackageEntry& entry) {
    std::string failedName;
    return CopyRun(from, to, std::vector<PackageEntry>{entry}, 0, 1, failedName);
}

bool CopyKeptEntries(PackageReader& client, PackageWriter& writer, const PackageNameSet& skip,
                     const std::function<void(int32_t handled)>& progress, std::string& failedName) {
    failedName.clear();
    // The directory is walked in full before any data are read, so that the entries can be
    // copied in runs: kept entries that lie back to back in the client archive (most of them)
    // go over in a few large blocks instead of one read and one write each.
    std::vector<PackageEntry> entries;
    PackageEntry entry;
    for (bool more = client.First(entry); more; more = client.Next(entry)) entries.push_back(entry);

    int32_t handled = 0;
    size_t i = 0;
    while (i < entries.size()) {
        if (skip.find(entries[i].name) != skip.end()) {
            ++i;
            ++handled;
            if (progress) progress(handled);
            continue;
        }
        // A run ends at a skipped entry, at a gap or overlap in the data, or where an entry's
        // bytes run past the 32-bit offsets (a damaged record, refused by the read).
        size_t last = i + 1;
        uint64_t end = static_cast<uint64_t>(entries[i].dataOffset) + entries[i].storedSize;
        while (last < entries.size() && end <= 0xFFFFFFFFu && entries[last].dataOffset == end &&
               skip.find(entries[last].name) == skip.end()) {
            end += entries[last].storedSize;
            ++last;
        }
        if (end > 0xFFFFFFFFu && last - i > 1) --last;
        if (!CopyRun(client, writer, entries, i, last, failedName)) return false;
        for (; i < last; ++i) {
            ++handled;
            if (progress) progress(handled);
        }
    }
    // A damaged record ended the walk early; what follows it cannot be located, so the archive
    // is never passed on as complete.
    return entries.size() == client.EntryCount();
}
