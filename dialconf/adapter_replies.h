// Reading the ISDN Tamrisk's replies. Every reply is the echoed command, "\r\n", an information
// line and the final "OK"; the readers take the fields from fixed positions after the echo, and
// never read past the end of what arrived. No Windows header here.
#pragma once

#include <cstddef>

#include "framework/cstring.h"

// The adapter's number of a B-channel protocol name (names tested as substrings, in table
// order); -1 for an unknown name.
int ProtocolFromName(const CString& name);

// The protocol a "AT ** PROT" reply names, as its B-channel entry text; "" when none.
CString ProtocolNameFromReply(const CString& reply);

// The switch type a "AT **ISDN" reply names (0 DSS1, 5 NI12, 6 JATE, 7 AT&T, 8 VNx); -1 when none.
int SwitchTypeFromReply(const CString& reply);

// The number of a "AT **MSN" reply: from position 11 on, from the first digit or '*' up to the
// first CR. False when the reply holds no such field.
bool MsnFromReply(const CString& reply, CString* number);

// The SPID of a "AT**SPIDn" reply: from position 12 up to the first 'O' or CR. False when the
// reply is too short to hold one.
bool SpidFromReply(const CString& reply, CString* spid);

// "Point to Multipoint" when a "AT **PTP" reply holds "MP", else "Point to Point".
CString PointToPointFromReply(const CString& reply);

// The 7 characters from position 8 of a "ATI3" reply (fewer when the reply is shorter).
CString FirmwareFromReply(const CString& reply);

// The reply buffer of one transaction: 2048 bytes, always NUL-terminated, never written past.
class ReplyBuffer {
public:
    static constexpr int kSize = 2048;

    void Clear();
    // Appends what fits; returns how many bytes were taken.
    int Append(const char* data, int size);
    int Room() const { return kSize - 1 - length_; }
    bool Full() const { return Room() == 0; }
    bool Contains(const char* expected) const;
    CString Text() const { return CString(data_, length_); }

private:
    char data_[kSize] = {0};
    int length_ = 0;
};
