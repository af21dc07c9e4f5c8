#include "package/KeptEntries.h"

#include <vector>

#include "package/PackageReader.h"
#include "package/PackageWriter.h"

void CollectEntryNames(PackageReader& reader, PackageNameSet& names) {
    names.clear();
    PackageEntry entry;
    for (bool more = reader.First(entry); more; more = reader.Next(entry)) names.insert(entry.name);
}

bool CopyKeptEntries(PackageReader& client, PackageWriter& writer, const PackageNameSet& skip,
                     const std::function<void(int32_t handled)>& progress, std::string& failedName) {
    failedName.clear();
    // The directory is walked in full before any data are read: alternating between directory
    // records and data would throw the stream's buffer away at every step.
    std::vector<PackageEntry> entries;
    PackageEntry entry;
    for (bool more = client.First(entry); more; more = client.Next(entry)) entries.push_back(entry);

    int32_t handled = 0;
    for (const PackageEntry& kept : entries) {
        if (skip.find(kept.name) == skip.end()) {
            const uint8_t* stored = client.ReadStored(kept.dataOffset, kept.storedSize);
            if (stored == nullptr || !writer.Add(kept.name, stored, kept.size, kept.storedSize, kept.flags)) {
                failedName = kept.name;
                return false;
            }
        }
        ++handled;
        if (progress) progress(handled);
    }
    // A damaged record ended the walk early; what follows it cannot be located, so the archive
    // is never passed on as complete.
    return entries.size() == client.EntryCount();
}
