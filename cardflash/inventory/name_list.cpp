#include "cardflash/inventory/name_list.h"

std::vector<std::string> SplitNameList(const char* buffer, size_t size) {
    std::vector<std::string> names;
    size_t i = 0;
    while (buffer && i < size && buffer[i] != '\0') {
        size_t start = i;
        while (i < size && buffer[i] != '\0') ++i;
        names.emplace_back(buffer + start, i - start);
        ++i;  // past the name's zero byte
    }
    return names;
}
