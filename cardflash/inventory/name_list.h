// The name lists that the private-profile calls return (each name ended by a zero byte, the list
// ended by an empty name), read without going past the buffer. No Windows header.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Names in order; a list that the buffer cuts ends at the buffer's end.
std::vector<std::string> SplitNameList(const char* buffer, size_t size);
