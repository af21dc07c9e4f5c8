// Copying the entries of a client archive that a patch keeps into the temporary update package.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>

class PackageReader;
class PackageWriter;
struct PackageEntry;

// Entry names as exact byte strings: letter case and the kind of separator count.
using PackageNameSet = std::unordered_set<std::string>;

// Clears names and inserts the name of every entry of reader, walking from First.
void CollectEntryNames(PackageReader& reader, PackageNameSet& names);

// Adds one entry of `from` to `to` in stored form, under the same name and with size,
// storedSize and flags unchanged; the bytes go over in 1 MiB blocks, so memory stays the same
// whatever the entry's size. False when they cannot be read or written.
bool CopyStoredEntry(PackageReader& from, PackageWriter& to, const PackageEntry& entry);

// Walks client from First and adds to writer, under the same name and with size, storedSize and
// flags unchanged, the stored bytes of every entry whose name is not in skip. The bytes pass
// through the reader's reusable buffer and are never inflated. After each entry, copied or
// skipped, progress gets the number of entries handled so far.
//
// False when an entry's stored bytes cannot be read, Add fails, or the directory ends before
// entryCount records (a damaged record); failedName then names the entry, or is empty when its
// record itself could not be read. A client archive cut short is never passed on as complete.
bool CopyKeptEntries(PackageReader& client, PackageWriter& writer, const PackageNameSet& skip,
                     const std::function<void(int32_t handled)>& progress, std::string& failedName);
