// Any text as an add-on trace and as every modem reply: the decoder and the parsers stay inside it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cardflash/flash/isdntrace.h"
#include "cardflash/flash/modemreplies.h"

namespace {

class NoTexts : public IStringTable {
public:
    bool Load(unsigned id, CString& text) const override {
        text.Format("text %u", id);
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const CString text(std::string(reinterpret_cast<const char*>(data), size));
    CString out;
    DecodeTrace(text, out, 0x7F);
    DecodeTrace(text, out, size ? data[0] : 0);

    NoTexts texts;
    CStringArray lines;
    SplitReplyLines(reinterpret_cast<const char*>(data), static_cast<int>(size), lines);
    CString value;
    ParseVersionLines(lines, value);
    ParseAddOnVersion(text);
    IsInPlaceLevel(text);
    int code = 0;
    ParseCountryCode(text, code);
    std::vector<uint32_t> list;
    ParseCountryList(text, list);
    ParseBoardCode(text);
    ParseColonValue(text, value);
    ParseBeforeOk(text);
    ParseCableTypes(text, "CGSM", texts);
    ParseModuleInfo(text, texts);
    ParseCallReport(text, texts);
    return 0;
}
