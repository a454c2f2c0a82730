#include "cardflash/flash/flash_engine.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "cardflash/flash/file_io.h"
#include "cardflash/flash/pak_file.h"
#include "cardflash/inventory/driver_access.h"
#include "framework/handles.h"

using namespace flashdrv;

namespace {

// The engine's process-wide state: one engine is open at a time, used from one thread.
struct EngineState {
    std::unique_ptr<drv::DriverHandle> driver;
    std::vector<CardRecord> cards;
    std::vector<CardNameRow> names;
};

EngineState& State() {
    static EngineState state;
    return state;
}

bool SendRecord(uint32_t code, CardRecord* card) {
    drv::DriverHandle* driver = State().driver.get();
    return driver && Send(*driver, code, card, sizeof *card);
}

// Keeps the registry's own result of the open, which the caller hands on.
class OwnedKey {
public:
    explicit OwnedKey(HKEY key) : key_(key) {}
    ~OwnedKey() { RegCloseKey(key_); }
    OwnedKey(const OwnedKey&) = delete;
    OwnedKey& operator=(const OwnedKey&) = delete;
    HKEY get() const { return key_; }

private:
    HKEY key_;
};

void ClearRecord(CardRecord* card) {
    std::memset(card, 0, sizeof *card);
    card->lookupStatus = 0xFFFF;
    card->oneAtEnumeration = 1;
}

// The entry's data from the file: 0, 6 no memory, 7 the file cannot be read.
int ReadEntryData(const char* path, const pak::Entry& entry, std::vector<uint8_t>* data) {
    try {
        data->assign(entry.length, 0);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
    fwio::File f;
    if (!f.OpenRead(path) || !f.Seek(entry.data_offset) || (entry.length && !f.ReadExact(data->data(), entry.length)))
        return kReadFailed;
    return kOk;
}

}  // namespace

int OpenFlashDriver(InfoBlock* info, CardRecord** cards, HMODULE module) {
    CloseFlashDriver();
    EngineState& s = State();
    info->status = 0xFFFF;
    drv::OpenRequest open;
    open.path = kDriverPath;
    open.attributes = drv::win::kFlagDeleteOnClose;
    s.driver = drv::DriverAccess::Open(open);
    if (!s.driver) return kOpenNoDriver;

    int result = kOk;
    uint16_t version = 0;
    if (!Send(*s.driver, kCodeVersion, &version, sizeof version) || version != kDriverVersion) {
        result = kOpenWrongVersion;
    } else if (!Send(*s.driver, kCodeInfo, info, sizeof *info) || info->status != 0) {
        result = kOpenNotReady;
    } else {
        for (int i = 0; i < kCardNameRows; ++i) {
            char text[256];
            CardNameRow row;
            if (LoadStringA(module, kCardNameFirstRow + i, text, sizeof text) <= 0 || !ParseCardNameRow(text, &row))
                break;
            s.names.push_back(row);
        }
        if (s.names.empty()) {
            result = kOpenNoNames;
        } else {
            try {
                s.cards.assign(info->recordCount, CardRecord{});
            } catch (const std::bad_alloc&) {
                result = kOpenNoMemory;
            }
        }
        if (result == kOk) {
            EnumerateCards(info);
            if (info->cardsFound == 0) result = kOpenNoCards;
        }
    }
    if (result != kOk) {
        // The block never reads as ready after a failed open. The driver stays open (a flash then
        // fails at its own steps, such as the card look-up without name rows) until
        // CloseFlashDriver or the next open; no card array is handed out.
        if (info->status == 0) info->status = 0xFFFF;
        return result;
    }
    *cards = s.cards.data();
    info->status = 0;
    return kOk;
}

void CloseFlashDriver() {
    EngineState& s = State();
    std::vector<CardRecord>().swap(s.cards);
    std::vector<CardNameRow>().swap(s.names);
    s.driver.reset();
}

LONG FindNextPcCard(char name[kNameSize], DWORD* index) {
    HKEY opened = nullptr;
    LONG r = RegOpenKeyExA(HKEY_DYN_DATA, "Config Manager\\Enum", 0, KEY_READ, &opened);
    if (r != ERROR_SUCCESS) return r;
    const OwnedKey enumKey(opened);
    for (;;) {
        char sub[256];
        DWORD subSize = sizeof sub;
        r = RegEnumKeyExA(enumKey.get(), *index, sub, &subSize, nullptr, nullptr, nullptr, nullptr);
        if (r != ERROR_SUCCESS) return r;
        ++*index;
        fw::RegKey node;
        if (!node.Open(enumKey.get(), sub, KEY_READ)) continue;
        // Room for a terminator the value may lack; a key that does not fit the record is no card.
        char key[kNameSize + 1];
        DWORD size = kNameSize, type = 0;
        if (RegQueryValueExA(node.get(), "HardWareKey", nullptr, &type, reinterpret_cast<BYTE*>(key), &size) !=
                ERROR_SUCCESS ||
            type != REG_SZ)
            continue;
        key[size < kNameSize ? size : kNameSize] = 0;
        const size_t length = std::strlen(key);
        if (length >= kNameSize) continue;
        if (std::strncmp(key, "PCMCIA\\", 7) != 0 || std::strncmp(key, "PCMCIA\\PCCARD\\", 14) == 0) continue;
        std::memcpy(name, key, length + 1);
        return ERROR_SUCCESS;
    }
}

void EnumerateCards(InfoBlock* info) {
    EngineState& s = State();
    for (CardRecord& card : s.cards) ClearRecord(&card);
    info->cardsFound = 0;
    DWORD index = 0;
    for (CardRecord& card : s.cards) {
        char name[kNameSize];
        if (FindNextPcCard(name, &index) != ERROR_SUCCESS) break;
        SetCardName(&card, name);
        card.found = 1;
        ++info->cardsFound;
    }
    for (CardRecord& card : s.cards)
        if (card.found) LookupCard(&card);
}

BOOL MatchCardTable(CardRecord* card) { return flashdrv::MatchCardTable(card, State().names); }

BOOL LookupCard(CardRecord* card) {
    card->lookupStatus = 0;
    if (!SendRecord(kCodeLookup, card) || card->lookupStatus != 0) return FALSE;
    if (!MatchCardTable(card)) return FALSE;
    card->lookupStatus = 0;
    if (!SendRecord(kCodeConfig, card) || card->lookupStatus != 0) return FALSE;
    if (!SendRecord(kCodeVariant, card) || card->variant == 0) return FALSE;
    card->variantCopy = card->variant;
    return TRUE;
}

int FlashEntry(const char* path, const pak::Header& header, int index, const CardRecord& card, Progress* progress,
               uint16_t* flags) {
    pak::Entry entry;
    if (!ReadPakEntry(path, header, index, &entry)) return kGeneralError;
    *flags = entry.flags;
    if (!EntryApplies(entry.flags, card.variant, ConfigurationFlag(card))) return kOk;
    drv::DriverHandle* driver = State().driver.get();
    if (!driver) return kGeneralError;

    const uint16_t id = CardId(card);
    const bool keepsCisInImage = id == 0x1046 || id == 0x2041;
    std::vector<uint8_t> data;
    if (!(entry.flags & pak::kFlagCis)) {
        const uint32_t address = id == 0x1146 ? 0 : entry.flash_address;
        if (int r = ReadEntryData(path, entry, &data)) return r;
        if (keepsCisInImage) KeepCardValuesInImage(data.data(), data.size(), card);
        return WriteFlashBlocks(*driver, data.data(), static_cast<uint32_t>(data.size()), address, entry.flags, card,
                                progress);
    }
    if (keepsCisInImage) return kOk;
    if (int r = ReadEntryData(path, entry, &data)) return r;
    std::vector<uint8_t> words;
    try {
        words = Widen(data.data(), data.size());
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
    KeepCardValues(words.data(), words.size(), card, true);
    if (id == 0x1146) words = Narrow(words.data(), words.size());
    return WriteFlashBlocks(*driver, words.data(), static_cast<uint32_t>(words.size()), entry.flash_address,
                            entry.flags, card, progress);
}

int FlashImage(const char* card_name, const char* path, void (*progress)(unsigned)) {
    EngineState& s = State();
    uint16_t version = 0;
    if (!s.driver || !Send(*s.driver, kCodeVersion, &version, sizeof version) || version != kDriverVersion)
        return kWrongDriver;

    CardRecord card;
    ClearRecord(&card);
    SetCardName(&card, card_name ? card_name : "");
    if (!LookupCard(&card)) return kNoConfiguration;
    if (CanBeFlashed(card) == 0) return kCannotFlash;

    pak::Header header;
    if (!ReadPakHeader(path, &header)) return kNotPak;
    if (int r = CheckPakForCard(CardId(card), card.variant, header)) return r;

    // The whole table is checked before the card is erased: a damaged file must not leave the
    // card empty.
    int count = 0;
    {
        std::vector<uint8_t> file;
        if (!fwio::ReadWholeFile(path, &file)) return kReadFailed;
        if (!CheckEntryTable(file.data(), file.size(), &count)) return kNotPak;
    }

    Progress state;
    state.callback = progress;
    state.total = GetPakDataTotal(path);

    if (!SendRecord(kCodeBegin, &card)) return kGeneralError;
    card.eraseStatus = 0;
    if (!SendRecord(kCodeErase, &card) || card.eraseStatus != 0) {
        SendRecord(kCodeEnd, &card);
        return kEraseFailed;
    }
    for (int i = 0;; ++i) {
        // The table was whole when checked; a file changed since then ends here.
        if (i >= count) return kReadFailed;
        uint16_t flags = 0;
        if (int r = FlashEntry(path, header, i, card, &state, &flags)) return r;
        if (flags & pak::kFlagLast) break;
    }
    return SendRecord(kCodeEnd, &card) ? kOk : kGeneralError;
}

CFlashEngine::CFlashEngine() : CFlashEngine(GetModuleHandleA(nullptr)) {}

CFlashEngine::CFlashEngine(HMODULE module) {
    m_Status = static_cast<uint16_t>(OpenFlashDriver(&m_Info, &m_Cards, module));
}

void CFlashEngine::Close() {
    CloseFlashDriver();
    m_Cards = nullptr;
}

int CFlashEngine::Flash(const CString& card_name, const CString& path, void (*progress)(unsigned)) {
    return FlashImage(card_name.c_str(), path.c_str(), progress);
}
