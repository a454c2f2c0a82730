// What the demos of scripts/demo.sh print with: a step, a failure that ends the demo, and a
// program's output set in under its step.
#pragma once

#include <cstdio>
#include <string>

namespace winetest {

inline void Say(const std::string& s) {
    std::printf("%s\n", s.c_str());
    std::fflush(stdout);
}

// Says what failed; the demo's exit code.
inline int Fail(const std::string& s) {
    Say("demo FAILED: " + s);
    return 1;
}

inline std::string Indent(const std::string& s) {
    std::string out = "      ";
    for (char c : s) {
        if (c == '\r') continue;
        out += c == '\n' ? std::string("\n      ") : std::string(1, c);
    }
    return out;
}

}  // namespace winetest
