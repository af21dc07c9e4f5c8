#include "report/ResultCodes.h"

namespace {

struct CodeMessage {
    int32_t code;
    const char* text;
};

const CodeMessage kMessages[] = {
    {RESULT_PACKAGE_DAMAGED, "更新包程序不完整或数据错误"},
    {RESULT_NO_PACKAGE, "此程序没有包含更新数据"},
    {RESULT_CLIENT_NOT_FOUND, "客户端安装路径没找到"},
    {RESULT_CLIENT_DAMAGED, "客户端文件损坏"},
    {RESULT_CLIENT_TOO_OLD, "客户端版本太旧，需要下载完整更新包"},
    {RESULT_CLIENT_UP_TO_DATE, "客户端已经是最新版本，无需执行更新"},
    {RESULT_WRITE_FAILED, "向客户端目录写文件失败"},
    {RESULT_OUT_OF_MEMORY, "内存空间不足"},
    {RESULT_FREE_SPACE_UNKNOWN, "无法获知硬盘的剩余空间"},
    {RESULT_DISK_FULL, "客户端安装路径的硬盘空间不足以执行此次更新"},
    {RESULT_CRC_MISMATCH, "更新包数据CRC校验错误，请重新下载"},
    {RESULT_PACKAGE_FOR_FULL, "更新包是全客户端的，请重新下载微端补丁包或选择全客户端安装目录"},
    {RESULT_PACKAGE_FOR_MICRO, "更新包是微端的，请重新下载全客户端补丁包或选择微端安装目录"},
};

const char kUnknownError[] = "发生未知错误！";

}  // namespace

const char* ResultMessage(int32_t code) {
    if (code >= 0) return nullptr;
    for (const CodeMessage& m : kMessages) {
        if (m.code == code) return m.text;
    }
    return kUnknownError;
}

int32_t ProgressPercent(int32_t position, int32_t range, bool phased, bool building) {
    if (range == 0) return 0;
    // The products stay in 32 bits as in the protocol; a position past 21 million entries
    // would overflow, so widen and clamp rather than wrap into nonsense percentages.
    int64_t p = static_cast<int64_t>(position) * 100 / range;
    if (p > INT32_MAX) p = INT32_MAX;
    if (p < INT32_MIN) p = INT32_MIN;
    int32_t base = static_cast<int32_t>(p);
    if (!phased) return base;
    if (building) return base / 10;
    return static_cast<int32_t>(static_cast<int64_t>(base) * 9 / 10 + 10);
}
