// The temporary update package that rebuilds the client archive.
#pragma once

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
