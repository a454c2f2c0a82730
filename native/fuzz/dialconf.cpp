// Any bytes as what the ISDN adapter answers: the reply buffer takes them in pieces without
// overrunning, and every reply reader and number check stays inside the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "dialconf/adapter_replies.h"
#include "dialconf/config_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    const CString reply(bytes, static_cast<int>(size));

    ProtocolFromName(reply);
    ProtocolNameFromReply(reply);
    SwitchTypeFromReply(reply);
    CString field;
    MsnFromReply(reply, &field);
    SpidFromReply(reply, &field);
    PointToPointFromReply(reply);
    FirmwareFromReply(reply);

    SerlinkComPort(reply);
    SwitchTypeUsesMsn(SwitchTypeFromName(reply));
    DChannelNameOfStored(reply);
    IsValidNumber(reply);
    IsValidSpid(reply, true);

    // The serial port delivers the reply in pieces of any size; the first byte picks the size.
    ReplyBuffer buffer;
    const size_t piece = size ? data[0] % 64 + 1 : 1;
    for (size_t at = 0; at < size; at += piece) {
        const size_t n = size - at < piece ? size - at : piece;
        const int room = buffer.Room();
        const int taken = buffer.Append(bytes + at, static_cast<int>(n));
        if (taken < 0 || taken > room || taken > static_cast<int>(n)) std::abort();
    }
    buffer.Contains("OK\r\n");
    const std::string expected(bytes, size < 16 ? size : 16);
    buffer.Contains(expected.c_str());
    buffer.Text();
    return 0;
}
