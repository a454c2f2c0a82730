// Any bytes as the information block of a firmware image: every entry kind's get stays inside the
// image and the caller's buffer, every set stays inside the image, and a refused set changes
// nothing. The input is the image from the directory (0x4000) on; the bytes below it are a fixed
// pattern, so the fuzzer spends its time on the directory and the areas it points at.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "cardflash/flash/fis.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<uint8_t> below = [] {
        std::vector<uint8_t> b(fis::kDirectoryOffset);
        for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 7 + 3);
        return b;
    }();
    std::vector<uint8_t> image(below);
    image.insert(image.end(), data, data + size);

    fis::IsFisImage(image.data(), image.size());
    fis::ImageChecksum(image.data(), image.size());

    static const int kCodes[] = {0x01, 0x02, 0x10, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x30, 0x40, 0xFF};
    // Buffers of exactly `capacity` bytes, so a write past the capacity is a sanitizer report.
    const size_t capacities[] = {0, 1, 16, 255, 256, 513, size ? data[0] : 3u};
    for (int code : kCodes) {
        for (size_t capacity : capacities) {
            std::unique_ptr<uint8_t[]> out(new uint8_t[capacity]);
            int length = 0;
            fis::GetItem(image.data(), image.size(), code, out.get(), capacity, &length);
        }
    }

    // Values for the sets: the input's last bytes (up to 300), so texts, pairs and whole
    // settings fields all occur.
    const size_t value_length = size < 300 ? size : 300;
    std::unique_ptr<uint8_t[]> value(new uint8_t[value_length]);
    if (value_length) std::memcpy(value.get(), data + size - value_length, value_length);
    std::vector<uint8_t> copy(image);
    for (int code : kCodes) {
        for (const uint8_t* v : {static_cast<const uint8_t*>(value.get()), static_cast<const uint8_t*>(nullptr)}) {
            const size_t length = v ? value_length : 0;
            if (fis::SetItem(copy.data(), copy.size(), code, v, length) == 0) {
                std::memcpy(copy.data(), image.data(), image.size());
            } else if (copy != image) {
                std::abort();  // a refused set must leave the image as it was
            }
        }
    }

    // The object the program holds: the same decoding behind int sizes.
    CFis held;
    if (held.Attach(image.data(), static_cast<int>(image.size())) == 0) {
        uint8_t text[64];
        int length = 0;
        held.Get(fis::kCodeVersion, text, sizeof text, &length);
        held.Set(fis::kCodeText1, value.get(), static_cast<int>(value_length));
        std::vector<uint8_t> whole(image.size());
        if (held.CopyOut(whole.data(), static_cast<int>(whole.size())) != 0) std::abort();
        held.CopyOut(whole.data(), static_cast<int>(whole.size()) - 1);
    }
    return 0;
}
