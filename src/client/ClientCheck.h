// The client check: the client's kind, folder and version, and the verdict on the package.
#pragma once

#include <cstdint>
#include <string>

#include "base/Reporter.h"
#include "base/Result.h"
#include "package/PackageFormat.h"

// What the run knows about the client it updates.
struct ClientFacts {
    std::string folder;  // ends with "\\"; empty when none could be taken
    bool isMicro = false;
    uint32_t version = 0;
    std::string versionText;  // the version line shown to the player
};

// Sets isMicro from "Config\\MiniClient.ini" (section "Version", "Ver" not 0) and logs it.
// False when the ini path of the folder does not fit (the folder cannot be checked).
bool DetectMicroClient(ClientFacts& client);

enum class VersionRead {
    Found,
    NoFile,     // "update.cfg" cannot be opened
    NoVerLine,  // it has no "ver" line
};
// Reads the "ver" line of "update.cfg" in the current folder.
VersionRead ReadClientVersion(uint32_t* version);

// Kind, current directory (the client folder from here on), version, version line (logged and
// shown) and the verdict: Ok, ClientNotFound, ClientDamaged, PackageForFull, PackageForMicro,
// ClientTooOld or ClientUpToDate.
Result CheckClient(ClientFacts& client, const PackageTrailer& trailer, Reporter& reporter);
