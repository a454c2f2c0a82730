// The built-in table of adapter registry readers.
#include "cardflash/inventory/card_info.h"
#include "cardflash/inventory/card_readers.h"

CCardInfoReaders CCardInfo::BuiltInReaders() {
    CCardInfoReaders readers;
    readers.nt351 = ReadCardNt351;
    readers.nt40 = ReadCardNt40;
    readers.win2000 = ReadCardWin2000;
    readers.win9x = ReadCardWin9x;
    return readers;
}
