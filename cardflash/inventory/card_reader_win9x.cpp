// The Windows 9x adapter reader.
#include "cardflash/inventory/card_info.h"
#include "cardflash/inventory/card_readers.h"

void ReadCardWin9x(CCardInfo&, BOOL) {}
