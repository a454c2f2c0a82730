// The flash-driver road of Windows 9x: the maker's flash driver programs a PC Card's flash memory
// from a .PAK image. The engine is a set of plain functions over one process-wide driver handle,
// card array and card-name table; CFlashEngine is the thin object the progress dialog holds.
// Results are the engine's codes (flash_engine_format.h); nothing throws.
#pragma once

#include <windows.h>

#include <cstdint>

#include "cardflash/flash/flash_engine_format.h"
#include "framework/cstring.h"

// Opens the driver, loads the card-name table from string 33000 onward of `module`, prepares the
// card records the driver announces and enumerates the cards: 0, or 1 no card found, 2 no memory,
// 3 the driver is not ready, 4 another driver version, 5 no driver, 6 no card-name row. On failure
// no card array is handed out; a driver that opened stays open until CloseFlashDriver (or the next
// open), so a later FlashImage fails at its own step.
int OpenFlashDriver(flashdrv::InfoBlock* info, flashdrv::CardRecord** cards, HMODULE module);
// Frees the card array and the card-name rows and closes the driver.
void CloseFlashDriver();

// Programs the card named `card_name` (its hardware key) from the .PAK at `path`; `progress` (may
// be null) gets the percentage done.
int FlashImage(const char* card_name, const char* path, void (*progress)(unsigned));

// The parts FlashImage is built from.
void EnumerateCards(flashdrv::InfoBlock* info);
// The next PC Card hardware key under HKEY_DYN_DATA "Config Manager\Enum" from subkey `index` on
// (advanced past the key read): ERROR_SUCCESS when found, else the registry's result.
LONG FindNextPcCard(char name[flashdrv::kNameSize], DWORD* index);
// Codes 4, the card table, 9 and 11: TRUE only when all four succeed.
BOOL LookupCard(flashdrv::CardRecord* card);
BOOL MatchCardTable(flashdrv::CardRecord* card);
int FlashEntry(const char* path, const pak::Header& header, int index, const flashdrv::CardRecord& card,
               flashdrv::Progress* progress, uint16_t* flags);

class CFlashEngine {
public:
    // Opens the driver with the program's own card-name rows.
    CFlashEngine();
    explicit CFlashEngine(HMODULE module);
    void Close();
    int Flash(const CString& card_name, const CString& path, void (*progress)(unsigned));

    uint16_t m_Status = 0;
    flashdrv::InfoBlock m_Info{};
    flashdrv::CardRecord* m_Cards = nullptr;
};
