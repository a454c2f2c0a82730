// The Card Information Structure of one PC Card: the tuple chain from the card's attribute
// memory, read through the card drivers, from a file or from bytes a caller has, with the names,
// function id and the plug-and-play id ("PCMCIA\<manufacturer>-<product>-<crc>") derived from it.
//
// A tuple: code byte, link byte (number of body bytes), body. Code 0x00 is one byte with no link;
// code 0xFF ends the chain, as does a link of 0xFF. Every walk also ends at the held length.
#pragma once

#include <cstdint>

#include "framework/cstring.h"

class CCis {
public:
    static constexpr int kBufferSize = 1024;
    static constexpr int kTupleMax = 257;  // code, link and 255 body bytes
    enum : int { kFileOk = 0, kFileOpen = 60, kFileLength = 61, kFileTooLong = 62, kFileRead = 63, kFileWrite = 64 };

    CCis() = default;
    virtual ~CCis() = default;

    // Through the Windows 9x card-information driver, or "NT4:<socket digit>" through the NT
    // PCMCIA driver.
    int ReadCis(const CString& deviceId);
    int ReadCisNt4(int socket);
    int SetCisData(const uint8_t* bytes, int count);  // count is held to 0..1024
    int LoadFromFile(const CString& path);
    int SaveToFile(const CString& path) const;

    int IsValid() const { return m_Valid; }
    int GetLength() const { return m_Length; }
    int GetSocket() const { return m_Socket; }
    const uint8_t* data() const { return m_Buffer; }

    // The first tuple of `code` copied whole into `out` (257 bytes); for 0x22 only the LAN
    // node-id extension (first body byte 4) counts.
    int FindTuple(uint8_t code, uint8_t* out) const;
    int GetManufacturerName(CString* out) const;
    int GetProductName(CString* out) const;
    int GetAdditionalInfo(CString* out) const;
    int HasNodeIdTuple(uint8_t* out) const { return FindTuple(0x22, out); }
    uint8_t GetFunctionId() const;  // 0xFF when there is no function-id tuple
    uint16_t ComputeCrc() const;
    int GetCrcText(CString* out) const;
    int GetPnpId(CString* out) const;
    // Puts `newTuple` (its own link + 2 bytes) in place of the first tuple of its code. False,
    // with the buffer unchanged, when there is no such tuple or the result would not fit.
    int ReplaceTuple(const uint8_t* newTuple);

    // CRC-16/ARC of a byte run, as the plug-and-play id uses it.
    static uint16_t Crc16(uint16_t crc, const uint8_t* bytes, int count);

private:
    int VersionString(int which, CString* out) const;

    int m_Valid = 0;
    int m_Socket = 255;
    int m_Length = 0;
    uint8_t m_Buffer[kBufferSize] = {};
};
