// The percentages a launcher receives for progress positions.
#pragma once

#include <cstdint>

#include "base/Reporter.h"

// Percentage sent with MONITOR_PROGRESS for a position within a range of width `range`,
// in signed 32-bit arithmetic truncating toward zero:
//   range 0               -> 0
//   Single                -> position*100/range
//   Building              -> (position*100/range)/10          (0..10)
//   Installing            -> (position*100/range)*9/10 + 10   (10..100)
int32_t ProgressPercent(int32_t position, int32_t range, ProgressPhase phase);
