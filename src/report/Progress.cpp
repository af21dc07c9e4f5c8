#include "report/Progress.h"

int32_t ProgressPercent(int32_t position, int32_t range, ProgressPhase phase) {
    if (range == 0) return 0;
    // The products stay in 32 bits as in the protocol; a position past 21 million entries
    // would overflow, so widen and clamp rather than wrap into nonsense percentages.
    int64_t p = static_cast<int64_t>(position) * 100 / range;
    if (p > INT32_MAX) p = INT32_MAX;
    if (p < INT32_MIN) p = INT32_MIN;
    int32_t base = static_cast<int32_t>(p);
    switch (phase) {
    case ProgressPhase::Single:
        return base;
    case ProgressPhase::Building:
        return base / 10;
    case ProgressPhase::Installing:
        break;
    }
    return static_cast<int32_t>(static_cast<int64_t>(base) * 9 / 10 + 10);
}
