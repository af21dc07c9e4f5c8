// Client version text: "update.cfg"'s "ver" line, packed versions and the version line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "base/Result.h"

// "a.b.c.d" to (a << 24 | b << 16 | c << 8 | d) with atoi-like components (blanks skipped, 0
// without digits). Components are OR-ed unclipped, so 1.3.0.256 is 0x01030100. Missing trailing
// components count as 0 ("1.3" is 1.3.0.0); text after the fourth component is ignored.
uint32_t ParseVersion(const char* text);

// Reads lines (at most 255 characters each) until the first whose key before "=" is exactly
// "ver": true with the version set, false when there is no such line. A longer line is skipped whole, so text
// after its 255th character can never pass for a line of its own.
bool ReadVersionFromStream(FILE* stream, uint32_t* version);

// The version line shown in the dialog; the one-line form when fromVersion is 0.
std::string FormatVersionMessage(uint32_t clientVersion, uint32_t fromVersion, uint32_t toVersion);

// Ok when the client version is within [fromVersion, toVersion], else ClientTooOld or ClientUpToDate.
Result CheckVersionRange(uint32_t clientVersion, uint32_t fromVersion, uint32_t toVersion);
