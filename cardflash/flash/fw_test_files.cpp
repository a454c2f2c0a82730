#include "fw_test_files.h"

#include <cstring>

namespace fwtest {

void Put16(Bytes* b, size_t at, uint16_t v) {
    (*b)[at] = static_cast<uint8_t>(v);
    (*b)[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(Bytes* b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
Bytes Le16(uint16_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }
Bytes Le32(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
uint16_t Sum16(const Bytes& b, size_t begin, size_t end) {
    uint32_t sum = 0;
    for (size_t i = begin; i < end; ++i) sum += b[i];
    return static_cast<uint16_t>(sum);
}

FisImage::FisImage(size_t size) : image_(size, 0), dir_(0x4000) {
    for (size_t i = 0; i < 0x4000 && i < size; ++i) image_[i] = static_cast<uint8_t>(i * 7 + 3);
    Entry(1, Text("FWINFO"));
}

FisImage& FisImage::Entry(uint8_t code, const Bytes& body) {
    image_[dir_] = code;
    image_[dir_ + 1] = static_cast<uint8_t>(body.size());
    std::memcpy(&image_[dir_ + 2], body.data(), body.size());
    dir_ += 2 + body.size();
    image_[dir_] = 0xFF;
    return *this;
}

FisImage& FisImage::Cis(uint16_t used, uint32_t area) {
    return Entry(0x10, Cat({Le16(0), Le16(used), Le16(0), Le32(area)}));
}
FisImage& FisImage::Version(uint32_t at, const std::string& text) {
    Put(at, Cat({Text(text), Bytes{0}}));
    return Entry(0x20, Cat({Le16(0), Le32(at)}));
}
FisImage& FisImage::TextItem(uint8_t code, uint16_t size, uint32_t area) {
    return Entry(code, Cat({Le16(size), Le32(area)}));
}
FisImage& FisImage::Pair(uint16_t size, uint32_t first, uint32_t second) {
    return Entry(0x24, Cat({Le16(0), Le16(size), Le32(first), Le32(second)}));
}
FisImage& FisImage::Put(uint32_t at, const Bytes& bytes) {
    std::memcpy(&image_[at], bytes.data(), bytes.size());
    return *this;
}
Bytes FisImage::Build() const {
    Bytes b = image_;
    Put16(&b, b.size() - 2, Sum16(b, 0, b.size() - 2));
    return b;
}

FisImage FullFisImage() {
    FisImage img;
    img.Entry(0x02, {0xAA, 0xBB, 0xCC})
        .Cis(4, 0x4100)
        .Put(0x4100, {0x01, 0x02, 0x03, 0x04})
        .Version(0x4300, "1.75")
        .TextItem(0x21, 8, 0x4400)
        .Put(0x4400, Text("OLD"))
        .TextItem(0x22, 16, 0x4410)
        .TextItem(0x23, 16, 0x4420)
        .TextItem(0x25, 16, 0x4430)
        .Pair(8, 0x4500, 0x4510)
        .Put(0x4500, Text("ONE"))
        .Put(0x4510, Text("TWO"))
        .TextItem(0x30, 4, 0x4600)
        .Put(0x4600, {9, 8, 7, 6})
        .Entry(0x40, {0x11, 0x22});
    return img;
}

Bytes PakFile(uint16_t version, uint16_t card_id, uint8_t variant, uint8_t options,
              const std::string& name, const std::string& description,
              const std::vector<PakEntryLayout>& entries, const Bytes& data) {
    const uint16_t n = static_cast<uint16_t>(name.size() + 1);
    const uint16_t d = static_cast<uint16_t>(description.size() + 1);
    Bytes header = Cat({Le16(0x4352), Le16(0x0103), Le16(version), Le16(card_id), Bytes{variant, options},
                        Le16(static_cast<uint16_t>(18 + n + d))});
    uint32_t sum = Sum16(header, 0, header.size());
    for (char c : name) sum += static_cast<uint8_t>(c);
    for (char c : description) sum += static_cast<uint8_t>(c);
    sum += n + d;
    Bytes b = Cat({header, Le16(n), Text(name), Bytes{0}, Le16(d), Text(description), Bytes{0},
                   Le16(static_cast<uint16_t>(sum))});
    for (const PakEntryLayout& e : entries)
        b = Cat({b, Le16(e.flags), Le32(e.offset), Le32(e.address), Le32(e.length)});
    return Cat({b, data});
}

Bytes MpkFile(uint8_t sub_count, const std::vector<MpkRecordLayout>& records) {
    Bytes b(kMpkRecordsAt, 0xEE);  // bytes the reader does not interpret
    std::memcpy(&b[160], "MPKFILEID", 10);
    Put16(&b, 170, 2);
    b[174] = sub_count;
    b[175] = static_cast<uint8_t>(records.size());
    size_t data_at = kMpkRecordsAt + records.size() * (208 + 16 * sub_count);
    Bytes data;
    for (const MpkRecordLayout& r : records) {
        Bytes rec(208, 0);
        rec[0] = r.type;
        std::memcpy(&rec[1], r.name.data(), r.name.size());
        Put16(&rec, 129, r.card_id);
        rec[131] = r.variant;
        std::memcpy(&rec[132], r.image_name.data(), r.image_name.size());
        std::memcpy(&rec[148], r.description.data(), r.description.size());
        b.insert(b.end(), rec.begin(), rec.end());
        for (size_t i = 0; i < sub_count; ++i) {
            Bytes sub(16, 0);
            if (i < r.sections.size()) {
                const MpkSection& s = r.sections[i];
                Put32(&sub, 0, s.kind);
                if (s.explicit_place) {
                    Put32(&sub, 4, s.length);
                    Put32(&sub, 8, s.offset);
                } else {
                    Put32(&sub, 4, static_cast<uint32_t>(s.data.size()));
                    Put32(&sub, 8, static_cast<uint32_t>(data_at + data.size()));
                    data.insert(data.end(), s.data.begin(), s.data.end());
                }
            }
            b.insert(b.end(), sub.begin(), sub.end());
        }
    }
    return Cat({b, data});
}

}  // namespace fwtest
