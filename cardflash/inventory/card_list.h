// The maker's adapters as the registry shows them: CCardList collects the device keys of every
// candidate device by Windows version; CActiveCardList builds an adapter record for each, keeps
// the maker's (those the device database knows), optionally only the present ones, and pairs the
// network and modem functions of one card that the system shows as two devices.
#pragma once

#include <windows.h>

#include "cardflash/inventory/card_info.h"
#include "framework/cstring.h"

struct IRegistry;

class CCardList {
public:
    CCardList() = default;
    virtual ~CCardList() = default;
    CCardList(const CCardList&) = delete;
    CCardList& operator=(const CCardList&) = delete;

    // Fills the key array: TRUE on Windows 9x and NT, FALSE (with an empty array) elsewhere.
    // On Windows 2000 also FALSE when a registry service failure cut a walk short; the keys
    // found until then are kept and m_ReadError says why the rest is missing.
    BOOL Build();

    // The Windows 2000 walks through `registry` (Build creates the registry object). A failing
    // service call ends the walk it happened in; the call never raises.
    BOOL BuildWin2000(IRegistry* registry);

    // Device keys relative to the Enum branch, in the order found.
    CStringArray m_Keys;
    // The first registry service failure of the last Build on Windows 2000; S_OK otherwise.
    HRESULT m_ReadError = S_OK;

private:
    void BuildNt351();
    void BuildNt40();
};

class CActiveCardList {
public:
    static constexpr int kMaxCards = 256;

    CActiveCardList() = default;
    virtual ~CActiveCardList();
    CActiveCardList(const CActiveCardList&) = delete;
    CActiveCardList& operator=(const CActiveCardList&) = delete;

    // Rebuilds both tables from the registry; with `insertedOnly` only present adapters are kept.
    // Returns TRUE. Records taken from the list before are gone afterwards.
    // A function pairs with the first entry of the same card whose partner slot is free; with none
    // free it becomes an entry of its own. Once all kMaxCards entries are in use, further records
    // are dropped, except a second function that still finds its card's partner slot free.
    BOOL Refresh(BOOL insertedOnly);

    // Entries in use come first; the first empty slot ends them.
    CCardInfo* m_Cards[kMaxCards] = {};
    // Slot i: the second function of the card in m_Cards[i], or nothing.
    CCardInfo* m_Partners[kMaxCards] = {};
    // Device keys the last refresh examined (not the number of entries).
    DWORD m_KeyCount = 0;

private:
    void Clear();
};
