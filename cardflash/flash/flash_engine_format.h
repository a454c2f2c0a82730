// What the flash engine exchanges with the maker's flash driver, and the byte work it does on the
// way: the request layouts (fixed, the driver reads them), the static card table, the card-name
// rows, the entry filters, the check of a .PAK's whole entry table, the card's own values kept in a
// CIS image, and the block writes. No Windows header: the driver is reached through the
// driver-access layer, so all of this also builds natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cardflash/flash/pak_format.h"
#include "cardflash/inventory/driver_access.h"

namespace flashdrv {

// Control codes of the flash driver (buffers in and out the same).
enum Code : uint32_t {
    kCodeVersion = 1,     // 2 bytes: the driver's version
    kCodeLookup = 4,      // card record: look the card up by name
    kCodeWrite = 5,       // write request: one block into flash memory
    kCodeErase = 7,       // card record: erase the card's flash
    kCodeConfig = 9,      // card record: read the card's configuration
    kCodeInfo = 10,       // information block
    kCodeVariant = 11,    // card record: read the card variant
    kCodeWriteCis = 16,   // write request: one block of a CIS entry (cards 0x1146)
    kCodeBegin = 17,      // card record: begin flashing
    kCodeEnd = 18,        // card record: end flashing
};

constexpr uint16_t kDriverVersion = 0x0100;
constexpr const char kDriverPath[] = "\\\\.\\Tollivar.VXD";
constexpr size_t kBlockSize = 512;
constexpr size_t kNameSize = 256;
constexpr unsigned kCardNameFirstRow = 33000;
constexpr int kCardNameRows = 20;

// Result codes of the engine (texts at string-table entry 25321 + code).
enum Result : int {
    kOk = 0,
    kNotPak = 1,
    kWrongCard = 2,
    kWrongVariant = 3,
    kNoConfiguration = 4,
    kWriteFailed = 5,
    kOutOfMemory = 6,
    kReadFailed = 7,
    kGeneralError = 8,
    kCannotFlash = 9,
    kWrongDriver = 10,
    kEraseFailed = 11,
};
constexpr unsigned kResultTextBase = 25321;

// Results of opening the driver.
enum OpenResult : int {
    kOpenNoCards = 1,
    kOpenNoMemory = 2,
    kOpenNotReady = 3,
    kOpenWrongVersion = 4,
    kOpenNoDriver = 5,
    kOpenNoNames = 6,
};

#pragma pack(push, 1)

// One card, as the driver knows it (556 bytes, little-endian).
struct CardRecord {
    char name[kNameSize];       // the card's hardware key ("PCMCIA\..."), NUL-terminated
    uint16_t lookupStatus;      // 0 before codes 4 and 9; non-zero afterwards: failure
    uint8_t driverArea[222];
    uint8_t variant;            // filled by code 11
    uint8_t driverByte;
    uint32_t identity;          // card id = byte 0 * 256 + byte 2; bit 0: configuration flag
    uint16_t nodeAddress[6];    // one byte per word
    uint16_t tuple88[8];        // kept in CIS tuple 0x88
    uint32_t tuple44Second;     // kept in CIS tuple 0x44 at tuple offset 8
    uint32_t tuple44First;      // kept in CIS tuple 0x44 at tuple offset 4
    uint8_t tableRow[14];       // copy of the matching static card table row
    uint8_t driverByte2;
    uint16_t eraseStatus;       // 0 before code 7; non-zero afterwards: the erase failed
    uint32_t zeroAtEnumeration;
    uint32_t found;             // 1 once the enumeration found the card
    uint32_t matched;           // 1 once a static card table row matched
    uint8_t variantCopy;
    uint32_t oneAtEnumeration;
};

// Control codes 5 and 16 (1078 bytes).
struct WriteRequest {
    uint32_t length;
    uint8_t data[kBlockSize];
    uint32_t address;
    CardRecord card;
    uint16_t status;  // 0 before the call; non-zero afterwards: failure
};

// Control code 10 (10 bytes).
struct InfoBlock {
    uint8_t driverArea[4];
    uint16_t cardsFound;     // counted by the enumeration
    uint16_t recordCount;    // card records to prepare
    uint16_t status;         // -1 before the call, 0 when the driver is ready and after the open
};

#pragma pack(pop)

static_assert(sizeof(CardRecord) == 556, "card record layout");
static_assert(offsetof(CardRecord, lookupStatus) == 256, "card record layout");
static_assert(offsetof(CardRecord, variant) == 480, "card record layout");
static_assert(offsetof(CardRecord, identity) == 482, "card record layout");
static_assert(offsetof(CardRecord, nodeAddress) == 486, "card record layout");
static_assert(offsetof(CardRecord, tuple88) == 498, "card record layout");
static_assert(offsetof(CardRecord, tuple44Second) == 514, "card record layout");
static_assert(offsetof(CardRecord, tuple44First) == 518, "card record layout");
static_assert(offsetof(CardRecord, tableRow) == 522, "card record layout");
static_assert(offsetof(CardRecord, eraseStatus) == 537, "card record layout");
static_assert(offsetof(CardRecord, zeroAtEnumeration) == 539, "card record layout");
static_assert(offsetof(CardRecord, found) == 543, "card record layout");
static_assert(offsetof(CardRecord, matched) == 547, "card record layout");
static_assert(offsetof(CardRecord, variantCopy) == 551, "card record layout");
static_assert(offsetof(CardRecord, oneAtEnumeration) == 552, "card record layout");
static_assert(sizeof(WriteRequest) == 1078, "write request layout");
static_assert(offsetof(WriteRequest, address) == 516, "write request layout");
static_assert(offsetof(WriteRequest, card) == 520, "write request layout");
static_assert(offsetof(WriteRequest, status) == 1076, "write request layout");
static_assert(sizeof(InfoBlock) == 10, "information block layout");
static_assert(offsetof(InfoBlock, cardsFound) == 4, "information block layout");
static_assert(offsetof(InfoBlock, recordCount) == 6, "information block layout");
static_assert(offsetof(InfoBlock, status) == 8, "information block layout");

// Card identity as the engine reads it from the record.
uint16_t CardId(const CardRecord& card);
int ConfigurationFlag(const CardRecord& card);  // 0 or 1
uint32_t CanBeFlashed(const CardRecord& card);  // record bytes 528 to 531 (table row bytes 6 to 9)
// The identity word a driver reports for a card id (the configuration flag is its bit 0, which is
// also bit 8 of the card id).
uint32_t IdentityWord(uint16_t card_id);
// The record's name as text (bounded by the field).
std::string CardName(const CardRecord& card);
void SetCardName(CardRecord* card, const std::string& name);  // cut to 255 characters

// The static card table: three rows of 14 bytes (card id, words at 2, 4 and 6 (can be flashed),
// bytes 8 to 13).
constexpr int kCardTableRows = 3;
const uint8_t* CardTableRow(int index);  // 14 bytes
uint16_t CardTableRowId(int index);

// One row of the card-name table: "prefix id" with the id in hexadecimal. False when the text
// does not give both.
struct CardNameRow {
    std::string prefix;
    uint16_t card_id = 0;
};
bool ParseCardNameRow(const std::string& text, CardNameRow* row);

// For the first card-name row whose prefix starts the card's name and whose id has a static card
// table row: marks the record and copies that table row into it. False when no row fits.
bool MatchCardTable(CardRecord* card, const std::vector<CardNameRow>& rows);

// Whether an entry is written into the card: its variant bits 4-7 (when set) must equal the card's
// variant, and with flag bit 1 its bit 8 must equal the card's configuration flag.
bool EntryApplies(uint16_t flags, uint8_t card_variant, int configuration_flag);

// The whole entry table of a .PAK file: a last entry (bit 15) ends it inside the file, the table
// ends before every entry's data, and every data range lies inside the file and its flash range
// inside the address space. `count` gets the number of entries. False otherwise.
bool CheckEntryTable(const uint8_t* file, size_t size, int* count);

// The card's own values in a CIS image kept one byte per 16-bit word (the form the card stores
// in attribute memory): tuple 0x44 gets the two u32 values at tuple offsets 4 and 8, tuple 0x88
// the eight words at 4 to 19; with `node_address` the six node-address words go to tuple 0x89 at
// 8 to 19, or else to the LAN node-id FUNCE tuple of the network function. Tuples are walked from
// the start (code at 0, link at 2, the next at link * 2 + 4) to code 0xFF or the end of the data; a
// tuple too short for a value keeps its bytes.
void KeepCardValues(uint8_t* words, size_t size, const CardRecord& card, bool node_address);

// Each byte b as the word b * 257; and back (the low byte of each word).
std::vector<uint8_t> Widen(const uint8_t* data, size_t size);
std::vector<uint8_t> Narrow(const uint8_t* words, size_t size);

// A firmware image whose information block's CIS entry (code 0x10) leads to a CIS area beginning
// with the byte 1: the card's values of tuples 0x44 and 0x88 written into that CIS (widened for the
// work when the entry says it is stored one byte per byte). When the data's last two bytes held its
// checksum (the sum of all other bytes) and lie outside the CIS, they are stored anew; otherwise
// nothing else of the data changes. False (image unchanged) when there is no such CIS.
bool KeepCardValuesInImage(uint8_t* image, size_t size, const CardRecord& card);

// A request that succeeded: the driver said so and answered with the whole buffer.
bool Send(drv::DriverHandle& driver, uint32_t code, void* buffer, uint32_t size);

// One block (at most 512 bytes): 0, or non-zero when the request failed or its status says so.
// Sent with code 16 for a CIS entry of a card with id 0x1146, else code 5.
int WriteFlashBlock(drv::DriverHandle& driver, uint32_t address, const uint8_t* data, uint32_t length,
                    const CardRecord& card, uint16_t entry_flags);

// Progress across the entries of one flash: the callback, the data total and the bytes done.
struct Progress {
    void (*callback)(unsigned percent) = nullptr;
    uint32_t total = 0;
    uint64_t done = 0;
    void Advance(uint32_t bytes);  // done grows; the callback gets the percentage, at most 100
};

// The data in blocks of 512 from `address` on; a block shorter than 512 (also of length 0) ends the
// entry. 0, or 5 for a failed block.
int WriteFlashBlocks(drv::DriverHandle& driver, const uint8_t* data, uint32_t length, uint32_t address,
                     uint16_t entry_flags, const CardRecord& card, Progress* progress);

}  // namespace flashdrv
