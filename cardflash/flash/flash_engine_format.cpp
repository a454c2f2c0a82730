#include "cardflash/flash/flash_engine_format.h"

#include <algorithm>
#include <cstring>

#include "cardflash/flash/fis.h"

namespace flashdrv {

uint16_t CardId(const CardRecord& card) {
    return static_cast<uint16_t>((card.identity & 0xFF) << 8 | ((card.identity >> 16) & 0xFF));
}

int ConfigurationFlag(const CardRecord& card) { return static_cast<int>(card.identity & 1); }

uint32_t CanBeFlashed(const CardRecord& card) {
    uint32_t v = 0;
    std::memcpy(&v, card.tableRow + 6, sizeof v);
    return v;
}

uint32_t IdentityWord(uint16_t card_id) {
    return static_cast<uint32_t>(card_id >> 8) | static_cast<uint32_t>(card_id & 0xFF) << 16;
}

std::string CardName(const CardRecord& card) {
    const void* end = std::memchr(card.name, 0, sizeof card.name);
    const size_t n = end ? static_cast<size_t>(static_cast<const char*>(end) - card.name) : sizeof card.name;
    return std::string(card.name, n);
}

void SetCardName(CardRecord* card, const std::string& name) {
    std::memset(card->name, 0, sizeof card->name);
    std::memcpy(card->name, name.data(), std::min(name.size(), sizeof card->name - 1));
}

namespace {

// Card id, then the words at 2, 4 and 6 (can be flashed), then bytes 8 to 13; little-endian.
const uint8_t kCardTable[kCardTableRows][14] = {
    {0x43, 0x11, 3, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0},
    {0x46, 0x11, 3, 0, 2, 0, 1, 0, 0, 0, 0, 0x10, 0, 0},
    {0x44, 0x11, 3, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0},
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void Put32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Tuples of a CIS in word form: code at 0, link at 2, the next tuple link * 2 + 4 bytes on. The
// visitor sees each tuple's code, start and the bytes of it that lie inside the data, and returns
// false to stop.
template <typename Visit>
void WalkWords(const uint8_t* w, size_t size, Visit visit) {
    size_t at = 0;
    while (at < size && size - at > 2) {
        const uint8_t code = w[at];
        if (code == 0xFF) return;
        const size_t length = static_cast<size_t>(w[at + 2]) * 2 + 4;
        if (!visit(code, at, std::min(length, size - at))) return;
        at += length;
    }
}

// Writes `n` bytes at tuple offset `offset` when the tuple holds them.
void PutInTuple(uint8_t* w, size_t at, size_t available, size_t offset, const void* bytes, size_t n) {
    if (offset + n <= available) std::memcpy(w + at + offset, bytes, n);
}

constexpr uint8_t kTupleFuncId = 0x21;
constexpr uint8_t kTupleFuncE = 0x22;
constexpr uint8_t kTupleSerial = 0x44;
constexpr uint8_t kTupleValues = 0x88;
constexpr uint8_t kTupleNode = 0x89;
constexpr uint8_t kFunctionNetwork = 6;
constexpr uint8_t kFuncELanNodeId = 4;

}  // namespace

const uint8_t* CardTableRow(int index) {
    return index >= 0 && index < kCardTableRows ? kCardTable[index] : nullptr;
}

uint16_t CardTableRowId(int index) {
    const uint8_t* row = CardTableRow(index);
    return row ? static_cast<uint16_t>(row[0] | row[1] << 8) : 0;
}

bool ParseCardNameRow(const std::string& text, CardNameRow* row) {
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    const size_t begin = i;
    while (i < text.size() && !IsSpace(text[i])) ++i;
    if (i == begin) return false;
    std::string prefix = text.substr(begin, i - begin);
    while (i < text.size() && IsSpace(text[i])) ++i;
    unsigned id = 0;
    int digits = 0;
    while (i < text.size() && digits < 4 && HexDigit(text[i]) >= 0) id = id * 16 + HexDigit(text[i++]), ++digits;
    if (!digits) return false;
    row->prefix = prefix;
    row->card_id = static_cast<uint16_t>(id);
    return true;
}

bool MatchCardTable(CardRecord* card, const std::vector<CardNameRow>& rows) {
    const std::string name = CardName(*card);
    for (const CardNameRow& row : rows) {
        if (row.prefix.empty() || name.compare(0, row.prefix.size(), row.prefix) != 0) continue;
        for (int i = 0; i < kCardTableRows; ++i) {
            if (CardTableRowId(i) != row.card_id) continue;
            card->matched = 1;
            std::memcpy(card->tableRow, CardTableRow(i), sizeof card->tableRow);
            return true;
        }
    }
    return false;
}

bool EntryApplies(uint16_t flags, uint8_t card_variant, int configuration_flag) {
    const unsigned variant = (flags >> 4) & 0x0F;
    if (variant != 0 && variant != card_variant) return false;
    if ((flags & 0x0002) && static_cast<int>((flags >> 8) & 1) != configuration_flag) return false;
    return true;
}

bool CheckEntryTable(const uint8_t* file, size_t size, int* count) {
    pak::Header header;
    if (!pak::DecodeHeader(file, size, &header) || header.table_offset < pak::kHeaderSize) return false;
    std::vector<pak::Entry> entries;
    for (size_t pos = header.table_offset;; pos += pak::kEntrySize) {
        if (pos > size || size - pos < pak::kEntrySize) return false;
        pak::Entry e;
        pak::DecodeEntry(file + pos, &e);
        entries.push_back(e);
        if (e.flags & pak::kFlagLast) break;
    }
    const uint64_t table_end = header.table_offset + entries.size() * pak::kEntrySize;
    for (const pak::Entry& e : entries) {
        if (e.data_offset < table_end || e.data_offset > size || e.length > size - e.data_offset) return false;
        // A CIS entry goes into flash in its word form, twice as long.
        const uint64_t written = (e.flags & pak::kFlagCis) ? 2ull * e.length : e.length;
        if (e.flash_address + written > 0x100000000ull) return false;
    }
    if (count) *count = static_cast<int>(entries.size());
    return true;
}

std::vector<uint8_t> Widen(const uint8_t* data, size_t size) {
    std::vector<uint8_t> w(size * 2);
    for (size_t i = 0; i < size; ++i) w[2 * i] = w[2 * i + 1] = data[i];
    return w;
}

std::vector<uint8_t> Narrow(const uint8_t* words, size_t size) {
    std::vector<uint8_t> b(size / 2);
    for (size_t i = 0; i < b.size(); ++i) b[i] = words[2 * i];
    return b;
}

void KeepCardValues(uint8_t* w, size_t size, const CardRecord& card, bool node_address) {
    uint8_t serial[8];
    Put32(serial, card.tuple44First);
    Put32(serial + 4, card.tuple44Second);
    uint8_t values[16], node[12];
    for (int i = 0; i < 8; ++i) values[2 * i] = uint8_t(card.tuple88[i]), values[2 * i + 1] = uint8_t(card.tuple88[i] >> 8);
    for (int i = 0; i < 6; ++i) node[2 * i] = uint8_t(card.nodeAddress[i]), node[2 * i + 1] = uint8_t(card.nodeAddress[i] >> 8);

    bool serial_done = false, values_done = false, node_tuple = false;
    WalkWords(w, size, [&](uint8_t code, size_t at, size_t available) {
        if (code == kTupleSerial && !serial_done) {
            PutInTuple(w, at, available, 4, serial, 4);
            PutInTuple(w, at, available, 8, serial + 4, 4);
            serial_done = true;
        } else if (code == kTupleValues && !values_done) {
            PutInTuple(w, at, available, 4, values, sizeof values);
            values_done = true;
        } else if (code == kTupleNode && node_address && !node_tuple) {
            PutInTuple(w, at, available, 8, node, sizeof node);
            node_tuple = true;
        }
        return true;
    });
    if (!node_address || node_tuple) return;

    // No node tuple: the node address goes to the LAN node-id extension of the network function,
    // which is the FUNCID tuple naming function 6, or else the second FUNCID tuple.
    size_t first = size, second = size, network = size;
    WalkWords(w, size, [&](uint8_t code, size_t at, size_t available) {
        if (code != kTupleFuncId) return true;
        if (first == size) first = at;
        else if (second == size) second = at;
        if (available > 4 && w[at + 4] == kFunctionNetwork) {
            network = at;
            return false;
        }
        return true;
    });
    const size_t from = network != size ? network : second;
    if (from == size) return;
    WalkWords(w, size, [&](uint8_t code, size_t at, size_t available) {
        if (at <= from || code != kTupleFuncE || available <= 4 || w[at + 4] != kFuncELanNodeId) return true;
        PutInTuple(w, at, available, 8, node, sizeof node);
        return false;
    });
}

bool KeepCardValuesInImage(uint8_t* image, size_t size, const CardRecord& card) {
    if (!fis::IsFisImage(image, size)) return false;
    for (size_t at = fis::kDirectoryOffset; at < size && image[at] != 0xFF;) {
        if (size - at < 2) return false;
        const size_t length = image[at + 1];
        if (image[at] == fis::kCodeCis) {
            // {2 bytes: stored-as-words flag, unused; u16 used length; u16 unused; u32 area offset}
            if (length < 10 || size - at - 2 < length) return false;
            const bool words = image[at + 2] != 0;
            const uint32_t area = static_cast<uint32_t>(image[at + 8]) | image[at + 9] << 8 |
                                  image[at + 10] << 16 | static_cast<uint32_t>(image[at + 11]) << 24;
            if (area > size || size - area < fis::kCisAreaSize || image[area] != 1) return false;
            // A whole image in one entry ends with its checksum, which the card checks before it
            // runs the image: it must cover the card's values. Data that is only part of an image
            // (its last two bytes are not the sum of the rest) is left alone there, as is a CIS
            // that reaches into those bytes.
            const bool whole = area + fis::kCisAreaSize <= size - 2 &&
                               fis::ImageChecksum(image, size) == (image[size - 2] | image[size - 1] << 8);
            uint8_t* cis = image + area;
            if (words) {
                KeepCardValues(cis, fis::kCisAreaSize, card, false);
            } else {
                std::vector<uint8_t> w = Widen(cis, fis::kCisAreaSize);
                KeepCardValues(w.data(), w.size(), card, false);
                const std::vector<uint8_t> b = Narrow(w.data(), w.size());
                std::memcpy(cis, b.data(), b.size());
            }
            if (whole) fis::StoreChecksum(image, size);
            return true;
        }
        at += length + 2;
    }
    return false;
}

bool Send(drv::DriverHandle& driver, uint32_t code, void* buffer, uint32_t size) {
    uint32_t got = 0;
    return driver.Control(code, buffer, size, buffer, size, &got) && got == size;
}

int WriteFlashBlock(drv::DriverHandle& driver, uint32_t address, const uint8_t* data, uint32_t length,
                    const CardRecord& card, uint16_t entry_flags) {
    if (length > kBlockSize) return 1;
    WriteRequest request;
    std::memset(&request, 0, sizeof request);
    request.length = length;
    if (length) std::memcpy(request.data, data, length);
    request.address = address;
    request.card = card;
    request.status = 0;
    const uint32_t code = (entry_flags & pak::kFlagCis) && CardId(card) == 0x1146 ? kCodeWriteCis : kCodeWrite;
    if (!Send(driver, code, &request, sizeof request)) return 1;
    return request.status;
}

void Progress::Advance(uint32_t bytes) {
    done += bytes;
    if (!callback) return;
    const uint64_t percent = total ? done * 100 / total : 100;
    callback(static_cast<unsigned>(std::min<uint64_t>(percent, 100)));
}

int WriteFlashBlocks(drv::DriverHandle& driver, const uint8_t* data, uint32_t length, uint32_t address,
                     uint16_t entry_flags, const CardRecord& card, Progress* progress) {
    for (;;) {
        const uint32_t n = std::min<uint32_t>(length, kBlockSize);
        if (WriteFlashBlock(driver, address, data, n, card, entry_flags) != 0) return kWriteFailed;
        if (n < kBlockSize) return kOk;
        if (progress) progress->Advance(kBlockSize);
        address += kBlockSize;
        data += kBlockSize;
        length -= kBlockSize;
    }
}

}  // namespace flashdrv
