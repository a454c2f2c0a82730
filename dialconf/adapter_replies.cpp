#include "dialconf/adapter_replies.h"

#include <cstring>

int ProtocolFromName(const CString& name) {
    static const struct {
        const char* name;
        int number;
    } kProtocols[] = {
        {"X.75", 10}, {"V.110", 0}, {"V.120", 13}, {"HDLC-PPP", 3},
        {"ML-PPP", 31}, {"T.70-BTX", 22}, {"Byte Transparent", 5},
    };
    for (const auto& p : kProtocols)
        if (name.Find(p.name) >= 0) return p.number;
    return -1;
}

CString ProtocolNameFromReply(const CString& reply) {
    static const struct {
        const char* found;
        const char* name;
    } kNames[] = {
        {"HDLC", "HDLC-PPP"}, {"V.110", "V.110"}, {"V.120", "V.120"}, {"X.75", "X.75"},
        {"Multilink PPP", "ML-PPP"}, {"T.70", "T.70-BTX"}, {"Byte", "Byte Transparent"},
    };
    for (const auto& n : kNames)
        if (reply.Find(n.found) >= 0) return n.name;
    return CString();
}

int SwitchTypeFromReply(const CString& reply) {
    static const struct {
        const char* found;
        int type;
    } kTypes[] = {{"DSS1", 0}, {"NI12", 5}, {"JATE", 6}, {"AT&T", 7}, {"VNx", 8}};
    for (const auto& t : kTypes)
        if (reply.Find(t.found) >= 0) return t.type;
    return -1;
}

bool MsnFromReply(const CString& reply, CString* number) {
    int at = 11;
    while (at < reply.GetLength()) {
        char c = reply[at];
        if ((c >= '0' && c <= '9') || c == '*') break;
        ++at;
    }
    if (at >= reply.GetLength()) return false;
    int cr = reply.Find('\r', at);
    *number = cr < 0 ? reply.Mid(at) : reply.Mid(at, cr - at);
    return true;
}

bool SpidFromReply(const CString& reply, CString* spid) {
    const int at = 12;
    if (reply.GetLength() <= at) return false;
    int end = at;
    while (end < reply.GetLength() && reply[end] != 'O' && reply[end] != '\r') ++end;
    *spid = reply.Mid(at, end - at);
    return true;
}

CString PointToPointFromReply(const CString& reply) {
    return reply.Find("MP") >= 0 ? "Point to Multipoint" : "Point to Point";
}

CString FirmwareFromReply(const CString& reply) { return reply.Mid(8, 7); }

void ReplyBuffer::Clear() {
    std::memset(data_, 0, sizeof(data_));
    length_ = 0;
}

int ReplyBuffer::Append(const char* data, int size) {
    if (size <= 0) return 0;
    int n = size < Room() ? size : Room();
    std::memcpy(data_ + length_, data, static_cast<size_t>(n));
    length_ += n;
    data_[length_] = '\0';
    return n;
}

bool ReplyBuffer::Contains(const char* expected) const {
    // The reply may hold NUL bytes from line noise: search the whole length, not up to a NUL.
    size_t n = std::strlen(expected);
    if (n == 0) return true;
    for (int i = 0; i + static_cast<int>(n) <= length_; ++i)
        if (std::memcmp(data_ + i, expected, n) == 0) return true;
    return false;
}
