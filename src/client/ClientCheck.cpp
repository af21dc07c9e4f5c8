#include "client/ClientCheck.h"

#include <windows.h>
#include <share.h>

#include <cstdio>

#include "base/InstallLog.h"
#include "base/PathText.h"
#include "base/StdioFile.h"
#include "client/ClientVersion.h"
#include "package/PackageTrailer.h"

bool DetectMicroClient(ClientFacts& client) {
    char iniPath[kPathBufferSize];
    if (!FormatBounded(iniPath, sizeof(iniPath), "%s\\Config\\MiniClient.ini", client.folder.c_str())) {
        client.isMicro = false;
        InstallLog::Write("客户端类型 %s %d", client.folder.c_str(), 0);
        return false;
    }
    UINT ver = GetPrivateProfileIntA("Version", "Ver", 0, iniPath);
    client.isMicro = ver != 0;
    InstallLog::Write("客户端类型 %s %d", iniPath, client.isMicro ? 1 : 0);
    return true;
}

VersionRead ReadClientVersion(uint32_t* version) {
    StdioFile file(_fsopen("update.cfg", "r", _SH_DENYNO));
    if (!file) return VersionRead::NoFile;
    return ReadVersionFromStream(file.Get(), version) ? VersionRead::Found : VersionRead::NoVerLine;
}

Result CheckClient(ClientFacts& client, const PackageTrailer& trailer, Reporter& reporter) {
    // A folder too deep to name its kind file cannot be told apart from a full client, and
    // patching a micro client as a full one would break it: such a folder is not usable.
    if (!DetectMicroClient(client)) return Result::ClientNotFound;
    if (client.folder.empty() || !SetCurrentDirectoryA(client.folder.c_str())) return Result::ClientNotFound;

    Result rc = CheckClientType(client.isMicro, trailer.clientType);
    if (Failed(rc)) return rc;

    switch (ReadClientVersion(&client.version)) {
    case VersionRead::NoFile:
        return Result::ClientNotFound;
    case VersionRead::NoVerLine:
        return Result::ClientDamaged;
    case VersionRead::Found:
        break;
    }

    client.versionText = FormatVersionMessage(client.version, trailer.fromVersion, trailer.toVersion);
    InstallLog::Write("游戏是否微端:%d，补丁包是否微端:%d，版本信息:%s", client.isMicro ? 1 : 0,
                      static_cast<int>(trailer.clientType), client.versionText.c_str());
    reporter.ShowVersionText(client.versionText);
    return CheckVersionRange(client.version, trailer.fromVersion, trailer.toVersion);
}
