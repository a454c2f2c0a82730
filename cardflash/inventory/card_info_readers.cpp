// The adapter registry readers that CCardInfo runs by Windows version. Until they read the
// registry, every road leaves the members as construction set them.
#include "cardflash/inventory/card_info.h"

CCardInfoReaders CCardInfo::BuiltInReaders() { return CCardInfoReaders(); }
