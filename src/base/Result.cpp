#include "base/Result.h"

namespace {

struct CodeMessage {
    Result code;
    const char* text;
};

const CodeMessage kMessages[] = {
    {Result::PackageDamaged, "更新包程序不完整或数据错误"},
    {Result::NoPackage, "此程序没有包含更新数据"},
    {Result::ClientNotFound, "客户端安装路径没找到"},
    {Result::ClientDamaged, "客户端文件损坏"},
    {Result::ClientTooOld, "客户端版本太旧，需要下载完整更新包"},
    {Result::ClientUpToDate, "客户端已经是最新版本，无需执行更新"},
    {Result::WriteFailed, "向客户端目录写文件失败"},
    {Result::OutOfMemory, "内存空间不足"},
    {Result::FreeSpaceUnknown, "无法获知硬盘的剩余空间"},
    {Result::DiskFull, "客户端安装路径的硬盘空间不足以执行此次更新"},
    {Result::CrcMismatch, "更新包数据CRC校验错误，请重新下载"},
    {Result::PackageForFull, "更新包是全客户端的，请重新下载微端补丁包或选择全客户端安装目录"},
    {Result::PackageForMicro, "更新包是微端的，请重新下载全客户端补丁包或选择微端安装目录"},
};

const char kUnknownError[] = "发生未知错误！";

}  // namespace

const char* ResultMessage(Result code) {
    // A stage that reports Reported has set its own status text already.
    if (!Failed(code) || code == Result::Reported) return nullptr;
    for (const CodeMessage& m : kMessages) {
        if (m.code == code) return m.text;
    }
    return kUnknownError;
}
