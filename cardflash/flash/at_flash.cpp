#include "cardflash/flash/at_flash.h"

#include "cardflash/flash/modem.h"
#include "cardflash/inventory/card_info.h"

CATFlash::~CATFlash() { DropModem(); }

void CATFlash::DropModem() {
    if (m_OwnsModem) delete m_Modem;
    m_Modem = nullptr;
    m_OwnsModem = false;
}

int CATFlash::Flash(const CCardInfo* card, const CString& port, const CString& image, void (*progress)(int),
                    CModem* modem) {
    m_PnPID = card ? card->m_PnPID : CString();
    m_ImagePath = image;
    DropModem();
    if (modem) {
        m_Modem = modem;
    } else {
        m_Modem = new CModem;
        m_OwnsModem = true;
        if (int r = m_Modem->AttachCard(card, port)) return r;
    }
    if (m_Modem->IsPortFree() == 0) return kModemNotOpen;
    return m_Modem->FlashFirmware(image, progress);
}
