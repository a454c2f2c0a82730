// The Windows NT 3.51 and NT 4.0 adapter readers.
#include "cardflash/inventory/card_info.h"
#include "cardflash/inventory/card_readers.h"

void ReadCardNt351(CCardInfo&) {}
void ReadCardNt40(CCardInfo&) {}
