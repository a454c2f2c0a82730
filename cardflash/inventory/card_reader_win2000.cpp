// The Windows 2000 adapter reader, through watchsvc.
#include "cardflash/inventory/card_info.h"
#include "cardflash/inventory/card_readers.h"

void ReadCardWin2000(CCardInfo&) {}
