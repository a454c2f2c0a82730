// The command line of watchsvc. No Windows header.
#pragma once

namespace watchsvc {

enum class Switch { None, UnregServer, RegServer, Service };

// Scans `cmdline` for "-" or "/" one occurrence after the other and compares, ignoring ASCII case,
// the whole rest of the line after that character with "UnregServer", "RegServer" and "Service":
// the first match decides, so a switch counts only when nothing follows it. `isLeadByte` tells the
// lead bytes of double-byte characters, whose trail bytes are skipped (nullptr: single-byte text).
Switch FindSwitch(const char* cmdline, bool (*isLeadByte)(unsigned char) = nullptr);

}  // namespace watchsvc
