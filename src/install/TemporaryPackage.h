// The temporary update package that rebuilds the client archive, and the archive list written
// back at the commit.
#pragma once

#include <string>
#include <vector>

#include "base/Reporter.h"
#include "base/Result.h"

class PackageReader;
class PackageWriter;

// Creates the temporary update package at tempPath and copies into it, in stored form, every
// entry of the client archive whose name the embedded package does not carry. On Ok the writer
// holds it open and archiveRebuilt tells whether a client archive was copied; on failure
// (Result::Reported) the status line names it and patchReader has been closed.
Result BuildTemporaryPackage(PackageWriter& writer, const char* tempPath, const char* archivePath,
                             PackageReader& patchReader, bool* archiveRebuilt, Reporter& reporter);

// Writes the archive list to listPath through listPath + ".tmp". False when the list is empty
// or any write or the copy into place fails.
bool WriteArchiveList(const std::vector<std::string>& names, const char* listPath);
