// The dialogues of the in-place flash, over an abstract link to the modem's port, with no Windows
// header: the ISDN add-on's XMODEM-1K upload, the modem boot loader's raw upload, the reply
// routines both roads use, and the two roads from the first command to the last reply.
//
// The modem object supplies the link (its counted port open, its text send, raw reads and writes);
// tests supply a script or a real port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CFis;

namespace flash {

using ProgressFn = void (*)(int percent);

// The modem's port as the flash uses it.
class FlashLink {
public:
    virtual ~FlashLink() = default;
    // One more counted open of the port, and its close.
    virtual bool OpenPort() = 0;
    virtual void ClosePort() = 0;
    // Raw bytes: the number written (a short count is a failed write), and up to `max` bytes read
    // within `timeoutMs` (0: only what is queued; kPortTimeouts: as long as the port's own read
    // time-outs wait); -1 when the port failed.
    virtual long Write(const void* data, size_t size) = 0;
    virtual long Read(void* buffer, size_t max, unsigned timeoutMs) = 0;
    virtual void Purge() = 0;
    virtual void Sleep(unsigned ms) = 0;
    // Sends `command` (nothing when empty) and collects the reply until it holds `expected`, for at
    // most `timeoutMs`; an empty `expected` returns at once. 0, or the channel's code. The modem
    // object puts its own text send here; this one works over Write and Read.
    virtual int SendText(const std::string& command, const std::string& expected, unsigned timeoutMs,
                         std::string* reply);
    // The system error of the last failed write, kept for the caller's error text.
    virtual unsigned long LastError() const { return 0; }
};

// A read that waits as the port's own read time-outs say (on the modem's port, set when it opens:
// 20 ms between bytes, 10 ms a byte and 300 ms more in all, so about 310 ms for one byte).
constexpr unsigned kPortTimeouts = 0xFFFFFFFFu;

// The XMODEM CRC: polynomial 0x1021, initial 0, most significant bit first, no final XOR.
uint16_t Crc16Xmodem(const uint8_t* data, size_t size);

constexpr size_t kXmodemBlock = 1024;
constexpr size_t kXmodemPacket = 1029;
enum : uint8_t { kStx = 0x02, kEot = 0x04, kAck = 0x06, kNak = 0x15, kCan = 0x18, kPad = 0x1A, kStart = 'C' };

// The packet for the block at `offset` (block numbers count from 1 modulo 256); bytes past the end
// of the data are 0x1A.
std::vector<uint8_t> BuildXmodemPacket(const uint8_t* data, size_t length, size_t offset, uint8_t block);

// The add-on's XMODEM-1K sender as a state machine over what it reads. The driver asks Next()
// what to do, does it, and tells the outcome of each read with OnRead.
class CXmodemSender {
public:
    enum class Action { ReadByte, SendPacket, SendFinal, Done };
    enum : int { kNoByte = -1, kReadFailed = -2 };

    CXmodemSender(const uint8_t* data, size_t length);

    Action Next() const { return action_; }
    // After ReadByte: a byte (0-255), kNoByte or kReadFailed.
    void OnRead(int byte);
    // After SendPacket: whether all 1029 bytes were written. A failed write is a block that was
    // not sent: it is read for as a silent answer would be, and sent again.
    void OnPacketWritten(bool ok);
    // After SendFinal.
    void OnFinalWritten() { action_ = Action::Done; }

    const std::vector<uint8_t>& Packet() const { return packet_; }
    uint8_t FinalByte() const { return result_ ? kCan : kEot; }
    int Progress() const;  // percent of the image acknowledged, for the packet about to go
    int Result() const { return result_; }
    size_t Remaining() const { return remaining_; }

private:
    void Fail(int code);
    void SendBlock();

    const uint8_t* data_;
    size_t length_;
    size_t remaining_;
    uint8_t block_ = 1;
    bool started_ = false;
    int startMisses_ = 0;
    int silent_ = 0;
    int rejected_ = 0;
    int result_ = 0;
    Action action_ = Action::ReadByte;
    std::vector<uint8_t> packet_;
};

// Runs the sender over the link: counted open (38), purge, the transfer, CAN or EOT, close.
// Each single-byte read (the start request, each answer) waits as the port's read time-outs say,
// so the start and answer limits count reads of that length.
int UploadXmodem(FlashLink& link, const uint8_t* data, size_t length, ProgressFn progress);

// Upper-cases `reply` in place and maps the boot loader's error words to 126-129 (0: none).
int BootLoaderError(std::string& reply);

// A multi-line reply without the echo (lines holding `pattern`, case-blind) and the "OK" line:
// the data lines joined without their line feeds. False when a line is longer than 254
// characters or the result longer than 4999; a last line without a line feed is still taken.
bool CleanReply(const std::string& reply, const char* pattern, std::string* cleaned);
// Hexadecimal pairs to bytes, carriage returns, line feeds and blanks skipped. False on anything
// but hex digits, or an odd count of them.
bool DecodeHex(const std::string& text, std::vector<uint8_t>* bytes);

// "tirak\r": switches the boot loader to taking an image.
extern const char kUploadModeCode[];

// The boot loader's raw upload on an open port, the mode code already written: blocks of at most
// 1024 bytes, the error words watched, at most three starts. 0, 125 or 126-129.
int UploadToBootLoader(FlashLink& link, const uint8_t* image, size_t size, ProgressFn progress);

// The modem road once the image is held in `fis`: the card's CIS and saved settings written into
// it, the boot loader started and the image uploaded. Codes of flash_codes.h, or those of `fis`.
int FlashModemImage(FlashLink& link, CFis& fis, ProgressFn progress);

// The add-on road with its image (section kind 9 of the package): flash mode, the XMODEM-1K
// upload and the confirmation. 0, the text send's code, 33-40.
int FlashAddOnImage(FlashLink& link, const uint8_t* image, size_t length, ProgressFn progress);

}  // namespace flash
