// regfixture load FILE   - writes the keys and values of a registry fixture file
// regfixture remove FILE - deletes every key that the file names (with everything below it)
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "winetest/registry.h"

int main(int argc, char** argv) {
    if (argc != 3 || (std::string(argv[1]) != "load" && std::string(argv[1]) != "remove")) {
        std::fprintf(stderr, "usage: regfixture load|remove FILE\n");
        return 2;
    }
    std::ifstream in(argv[2], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "regfixture: cannot read %s\n", argv[2]);
        return 1;
    }
    std::ostringstream text;
    text << in.rdbuf();
    try {
        if (std::string(argv[1]) == "load") {
            winetest::ApplyRegText(text.str());
        } else {
            std::vector<winetest::RegKeyText> keys;
            std::string error;
            if (!winetest::ParseRegText(text.str(), &keys, &error)) throw std::runtime_error(error);
            for (const auto& k : keys) winetest::DeleteKeyTree(winetest::RootKey(k.root), k.path);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "regfixture: %s\n", e.what());
        return 1;
    }
    return 0;
}
