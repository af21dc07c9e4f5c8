// Archive entry names: GBK bytes with '\' or '/' between components, and their host form.
#pragma once

#include <string>
#include <vector>

#include "base/PathText.h"

// Splits at '\' and '/' that are characters of their own, never at a trail byte.
// "a\\b" gives {"a", "", "b"}; a leading separator gives a first empty component.
std::vector<std::string> SplitGbkPath(const std::string& gbk);
// True when the last character (not a trail byte) is '\' or '/'.
bool GbkEndsWithSeparator(const std::string& gbk);

// Host file-name text to GBK: iconv UTF-8 -> GBK on Linux; on Windows the ANSI names already are
// GBK. False when a character has no GBK form.
bool HostNameToGbk(const std::string& host, std::string* gbk);
// GBK to host file-name text; false when the bytes are not valid GBK.
bool GbkToHostName(const std::string& gbk, std::string* host);
// Text for showing a name to a person: the host form, or with \xNN escapes when it has none.
std::string ShowGbkName(const std::string& gbk);

// Why one GBK name component would not survive in a Windows client folder (empty when it is
// fine): reserved characters (a '?' is also how ANSI listings show unrepresentable characters),
// control characters, a trailing dot or blank, or a '\' inside it. Trail bytes are skipped.
std::string WindowsNameProblem(const std::string& component);

// Turns an archive entry name into the host-text components of a path below an extraction
// folder. Refuses (false, with the reason) empty names, names ending with a separator, absolute
// names, drive letters and streams (any ':'), components of dots and blanks only (Windows reads
// "..." or ".. " as ".."), and names that are not valid GBK. "." and empty components between
// separators are dropped.
bool ArchiveNameToRelativePath(const std::string& gbk, std::vector<std::string>* components,
                               std::string* why);
