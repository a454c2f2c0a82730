#include "cardflash/inventory/cis.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr uint8_t kNull = 0x00;
constexpr uint8_t kEnd = 0xFF;
constexpr uint8_t kVers1 = 0x15;
constexpr uint8_t kFuncId = 0x21;
constexpr uint8_t kFuncE = 0x22;
constexpr uint8_t kLanNodeId = 4;
constexpr uint8_t kIdTuples[] = {0x01, 0x15, 0x1A, 0x1B, 0x20, 0xFF};

// CRC-16/ARC entries of the low nibble values and of the high nibble values.
constexpr uint16_t kCrcLow[16] = {0x0000, 0xC0C1, 0xC181, 0x0140, 0xC301, 0x03C0, 0x0280, 0xC241,
                                  0xC601, 0x06C0, 0x0780, 0xC741, 0x0500, 0xC5C1, 0xC481, 0x0440};
constexpr uint16_t kCrcHigh[16] = {0x0000, 0xCC01, 0xD801, 0x1400, 0xF001, 0x3C00, 0x2800, 0xE401,
                                   0xA001, 0x6C00, 0x7800, 0xB401, 0x5000, 0x9C01, 0x8801, 0x4400};

// Calls f(offset, code, link) for each tuple; f returns false to stop. The chain ends at an end
// tuple, a link of 0xFF, or a tuple that runs past `length`.
template <typename F>
void WalkTuples(const uint8_t* buf, int length, F&& f) {
    int off = 0;
    while (off < length) {
        uint8_t code = buf[off];
        if (code == kEnd) return;
        if (code == kNull) {
            ++off;
            continue;
        }
        if (off + 2 > length) return;
        uint8_t link = buf[off + 1];
        if (link == 0xFF || off + 2 + link > length) return;
        if (!f(off, code, link)) return;
        off += 2 + link;
    }
}

bool Matches(const uint8_t* buf, int off, uint8_t code, uint8_t link, uint8_t wanted) {
    if (code != wanted) return false;
    return wanted != kFuncE || (link >= 1 && buf[off + 2] == kLanNodeId);
}

// Offset and size of the first tuple that `wanted` selects, -1 when none.
int Locate(const uint8_t* buf, int length, uint8_t wanted, int* size) {
    int found = -1;
    WalkTuples(buf, length, [&](int off, uint8_t code, uint8_t link) {
        if (!Matches(buf, off, code, link, wanted)) return true;
        found = off;
        *size = link + 2;
        return false;
    });
    return found;
}

// Where the tuple data ends: past the last tuple the chain holds (null bytes and an end mark
// are not data), or at `length` when a tuple runs past it.
int DataEnd(const uint8_t* buf, int length) {
    int end = 0, off = 0;
    while (off < length) {
        const uint8_t code = buf[off];
        if (code == kEnd) break;
        if (code == kNull) {
            ++off;
            continue;
        }
        if (off + 2 > length) return length;
        const uint8_t link = buf[off + 1];
        if (link == 0xFF) break;
        if (off + 2 + link > length) return length;
        off += 2 + link;
        end = off;
    }
    return end;
}

}  // namespace

uint16_t CCis::Crc16(uint16_t crc, const uint8_t* bytes, int count) {
    for (int i = 0; i < count; ++i) {
        uint8_t x = static_cast<uint8_t>((crc ^ bytes[i]) & 0xFF);
        crc = static_cast<uint16_t>((crc >> 8) ^ kCrcLow[x & 0x0F] ^ kCrcHigh[x >> 4]);
    }
    return crc;
}

int CCis::SetCisData(const uint8_t* bytes, int count) {
    if (!bytes || count < 0) count = 0;
    if (count > kBufferSize) count = kBufferSize;
    std::memset(m_Buffer, 0, sizeof(m_Buffer));
    if (count) std::memcpy(m_Buffer, bytes, static_cast<size_t>(count));
    m_Valid = 1;
    m_Length = count;
    return 0;
}

int CCis::LoadFromFile(const CString& path) {
    m_Socket = -1;
    std::FILE* f = std::fopen(path.c_str(), "r+b");
    if (!f) return kFileOpen;
    int result = kFileOk;
    long size = -1;
    if (std::fseek(f, 0, SEEK_END) != 0 || (size = std::ftell(f)) < 0) {
        result = kFileLength;
    } else if (size > kBufferSize) {
        result = kFileTooLong;
    } else {
        // Read aside first: a failed read leaves the held CIS as it was.
        std::vector<uint8_t> bytes(static_cast<size_t>(size) + 1);
        if (std::fseek(f, 0, SEEK_SET) != 0 ||
            std::fread(bytes.data(), 1, static_cast<size_t>(size), f) != static_cast<size_t>(size))
            result = kFileRead;
        else
            SetCisData(bytes.data(), static_cast<int>(size));
    }
    std::fclose(f);
    return result;
}

int CCis::SaveToFile(const CString& path) const {
    // Only an existing file is written: opening it for update first proves it is there.
    std::FILE* probe = std::fopen(path.c_str(), "r+b");
    if (!probe) return kFileWrite;
    std::fclose(probe);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return kFileWrite;
    bool ok = std::fwrite(m_Buffer, 1, static_cast<size_t>(m_Length), f) == static_cast<size_t>(m_Length);
    ok = std::fclose(f) == 0 && ok;
    return ok ? kFileOk : kFileWrite;
}

int CCis::FindTuple(uint8_t code, uint8_t* out) const {
    if (!m_Valid) return 0;
    int size = 0, off = Locate(m_Buffer, m_Length, code, &size);
    if (off < 0) return 0;
    if (out) std::memcpy(out, m_Buffer + off, static_cast<size_t>(size));
    return 1;
}

int CCis::VersionString(int which, CString* out) const {
    uint8_t t[kTupleMax];
    if (!FindTuple(kVers1, t)) return 0;
    int end = 2 + t[1];
    int pos = 4;  // past code, link and the two version bytes
    for (int i = 0; i < which && pos < end; ++i) {
        while (pos < end && t[pos] != 0 && t[pos] != 0xFF) ++pos;
        if (pos < end && t[pos] == 0) ++pos;
        else pos = end;  // the list ended early
    }
    int start = pos;
    while (pos < end && t[pos] != 0 && t[pos] != 0xFF) ++pos;
    if (out) *out = CString(reinterpret_cast<const char*>(t + start), pos > start ? pos - start : 0);
    return 1;
}

int CCis::GetManufacturerName(CString* out) const { return VersionString(0, out); }
int CCis::GetProductName(CString* out) const { return VersionString(1, out); }
int CCis::GetAdditionalInfo(CString* out) const { return VersionString(2, out); }

uint8_t CCis::GetFunctionId() const {
    uint8_t t[kTupleMax];
    if (!FindTuple(kFuncId, t) || t[1] < 1) return 0xFF;
    return t[2];
}

uint16_t CCis::ComputeCrc() const {
    uint16_t crc = 0;
    WalkTuples(m_Buffer, m_Length, [&](int off, uint8_t code, uint8_t link) {
        if (!std::memchr(kIdTuples, code, sizeof(kIdTuples) - 1)) return true;
        const uint8_t* body = m_Buffer + off + 2;
        if (code != kVers1) {
            crc = Crc16(crc, body, link);
            return true;
        }
        // The version bytes, then the manufacturer and product strings with their zero bytes.
        int n = link < 2 ? link : 2;
        for (int s = 0; s < 2 && n < link; ++s) {
            while (n < link && body[n] != 0) ++n;
            if (n < link) ++n;
        }
        crc = Crc16(crc, body, n);
        return true;
    });
    return crc;
}

int CCis::GetCrcText(CString* out) const {
    if (out) out->Format("%x", ComputeCrc());
    return 1;
}

int CCis::GetPnpId(CString* out) const {
    CString mfg, product, crc;
    GetManufacturerName(&mfg);
    GetProductName(&product);
    GetCrcText(&crc);
    CString id = "PCMCIA\\" + mfg + "-" + product + "-" + crc;
    id.MakeUpper();
    id.Replace(' ', '_');
    if (out) *out = id;
    return 1;
}

int CCis::ReplaceTuple(const uint8_t* newTuple) {
    if (!newTuple) return 0;
    int new_size = newTuple[1] + 2;
    int old_size = 0;
    int front = Locate(m_Buffer, m_Length, newTuple[0], &old_size);
    if (front < 0) return 0;
    int rest = m_Length - front - old_size;
    int total = front + new_size + rest;
    if (total > kBufferSize) return 0;

    uint8_t result[kBufferSize];
    std::memcpy(result, m_Buffer, static_cast<size_t>(front));
    std::memcpy(result + front, newTuple, static_cast<size_t>(new_size));
    std::memcpy(result + front + new_size, m_Buffer + front + old_size, static_cast<size_t>(rest));
    // The end mark goes on the last byte only when no tuple owns that byte; when the chain runs to
    // the end (the new tuple, or a tuple behind it, ends the data) it follows the data instead,
    // and a result that fills the buffer keeps no mark (every walk also ends at the length).
    const int data_end = DataEnd(result, total);
    if (data_end < total)
        result[total - 1] = kEnd;
    else if (total < kBufferSize)
        result[total++] = kEnd;
    std::memset(m_Buffer, 0, static_cast<size_t>(m_Length));
    std::memcpy(m_Buffer, result, static_cast<size_t>(total));
    m_Length = total;
    return 1;
}
