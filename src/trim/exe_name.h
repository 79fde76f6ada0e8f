// The comparison of a watch-list entry with an executable's name. It needs
// nothing of the platform.
#pragma once

// True when a watch-list entry names the executable `exeName`: byte for byte,
// with only the ASCII letters A to Z folded to lower case, whatever the locale.
bool ExeNameMatches(const char* entry, const char* exeName);
