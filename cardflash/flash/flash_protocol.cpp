#include "cardflash/flash/flash_protocol.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <new>

#include "cardflash/flash/fis.h"
#include "cardflash/flash/flash_codes.h"
#include "cardflash/inventory/cis.h"

namespace flash {

namespace {

void Report(ProgressFn progress, int percent) {
    if (progress) progress(percent);
}

bool WriteAll(FlashLink& link, const void* data, size_t size) {
    return link.Write(data, size) == static_cast<long>(size);
}

bool WriteText(FlashLink& link, const char* text) { return WriteAll(link, text, std::char_traits<char>::length(text)); }

// What is queued, at most `max` bytes; empty when nothing came or the read failed.
std::string ReadQueued(FlashLink& link, size_t max = 1024) {
    std::string out(max, '\0');
    long n = link.Read(&out[0], max, 0);
    out.resize(n > 0 ? static_cast<size_t>(std::min<long>(n, static_cast<long>(max))) : 0);
    return out;
}

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Closes the counted open on every path out of the upload.
class PortOpen {
public:
    explicit PortOpen(FlashLink& link) : link_(link), open_(link.OpenPort()) {}
    ~PortOpen() {
        if (open_) link_.ClosePort();
    }
    PortOpen(const PortOpen&) = delete;
    PortOpen& operator=(const PortOpen&) = delete;
    bool ok() const { return open_; }

private:
    FlashLink& link_;
    bool open_;
};

}  // namespace

int FlashLink::SendText(const std::string& command, const std::string& expected, unsigned timeoutMs,
                        std::string* reply) {
    if (reply) reply->clear();
    if (!command.empty() && !WriteAll(*this, command.data(), command.size())) return flashcode::kCommandFailed;
    if (expected.empty()) return 0;
    std::string got;
    // Slices of 50 ms, so a reply that is already complete is not waited for.
    for (unsigned waited = 0;; waited += 50) {
        char buffer[256];
        long n = Read(buffer, sizeof buffer, 50);
        if (n < 0) break;
        // Bounded: a talkative line cannot grow the reply without end.
        if (n > 0 && got.size() < 65536) got.append(buffer, static_cast<size_t>(n));
        if (got.find(expected) != std::string::npos) {
            if (reply) *reply = got;
            return 0;
        }
        if (waited >= timeoutMs) break;
    }
    if (reply) *reply = got;
    return flashcode::kCommandFailed;
}

uint16_t Crc16Xmodem(const uint8_t* data, size_t size) {
    uint16_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

std::vector<uint8_t> BuildXmodemPacket(const uint8_t* data, size_t length, size_t offset, uint8_t block) {
    std::vector<uint8_t> packet(kXmodemPacket, kPad);
    packet[0] = kStx;
    packet[1] = block;
    packet[2] = static_cast<uint8_t>(~block);
    if (data && offset < length) {
        size_t n = std::min(kXmodemBlock, length - offset);
        std::copy(data + offset, data + offset + n, packet.begin() + 3);
    }
    uint16_t crc = Crc16Xmodem(packet.data() + 3, kXmodemBlock);
    packet[1027] = static_cast<uint8_t>(crc >> 8);
    packet[1028] = static_cast<uint8_t>(crc & 0xFF);
    return packet;
}

CXmodemSender::CXmodemSender(const uint8_t* data, size_t length)
    : data_(data), length_(data ? length : 0), remaining_(data ? length : 0) {}

int CXmodemSender::Progress() const {
    if (length_ == 0) return 100;
    return static_cast<int>((static_cast<unsigned long long>(length_ - remaining_) * 100) / length_);
}

void CXmodemSender::Fail(int code) {
    result_ = code;
    action_ = Action::SendFinal;
}

void CXmodemSender::SendBlock() {
    if (remaining_ == 0) {
        action_ = Action::SendFinal;
        return;
    }
    packet_ = BuildXmodemPacket(data_, length_, length_ - remaining_, block_);
    action_ = Action::SendPacket;
}

void CXmodemSender::OnRead(int byte) {
    if (action_ != Action::ReadByte) return;
    if (!started_) {
        if (byte == kStart) {
            started_ = true;
            SendBlock();
        } else if (byte == kNak) {
            Fail(flashcode::kAddOnNak);
        } else if (byte == kCan) {
            Fail(flashcode::kAddOnCan);
        } else if (byte == kReadFailed) {
            Fail(flashcode::kAddOnReadFailed);
        } else if (++startMisses_ > 20) {
            Fail(flashcode::kAddOnNoAnswer);
        }
        return;
    }
    if (byte == kReadFailed) {
        Fail(flashcode::kAddOnReadFailed);
    } else if (byte == kNoByte) {
        if (++silent_ > 5) Fail(flashcode::kAddOnNoAnswer);
        else action_ = Action::SendPacket;
    } else if (byte == kAck) {
        remaining_ = remaining_ > kXmodemBlock ? remaining_ - kXmodemBlock : 0;
        block_ = static_cast<uint8_t>(block_ + 1);
        silent_ = 0;
        rejected_ = 0;
        SendBlock();
    } else {
        if (++rejected_ >= 10) Fail(flashcode::kAddOnRejected);
        else action_ = Action::SendPacket;
    }
}

void CXmodemSender::OnPacketWritten(bool ok) {
    if (action_ != Action::SendPacket) return;
    action_ = Action::ReadByte;
    if (!ok) {
        // Nothing can come for a block that did not go out: count it as a silent answer.
        OnRead(kNoByte);
    }
}

int UploadXmodem(FlashLink& link, const uint8_t* data, size_t length, ProgressFn progress) {
    PortOpen open(link);
    if (!open.ok()) return flashcode::kAddOnPortNotOpened;
    link.Purge();
    CXmodemSender sender(data, length);
    for (;;) {
        switch (sender.Next()) {
        case CXmodemSender::Action::ReadByte: {
            uint8_t byte = 0;
            long n = link.Read(&byte, 1, kPortTimeouts);
            sender.OnRead(n < 0 ? static_cast<int>(CXmodemSender::kReadFailed) : n == 0 ? static_cast<int>(CXmodemSender::kNoByte) : byte);
            break;
        }
        case CXmodemSender::Action::SendPacket:
            Report(progress, sender.Progress());
            sender.OnPacketWritten(WriteAll(link, sender.Packet().data(), sender.Packet().size()));
            break;
        case CXmodemSender::Action::SendFinal: {
            uint8_t final_byte = sender.FinalByte();
            WriteAll(link, &final_byte, 1);
            sender.OnFinalWritten();
            break;
        }
        case CXmodemSender::Action::Done:
            if (sender.Result() == 0) Report(progress, 100);
            return sender.Result();
        }
    }
}

int BootLoaderError(std::string& reply) {
    for (char& c : reply) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static const struct {
        const char* word;
        int code;
    } kWords[] = {
        {"TIMEOUT ERROR\r", flashcode::kTimeoutError},
        {"ERASE ERROR", flashcode::kEraseError},
        {"PROGRAMMING ERROR", flashcode::kProgrammingError},
        {"CHECKSUM ERROR", flashcode::kChecksumError},
    };
    for (const auto& w : kWords)
        if (reply.find(w.word) != std::string::npos) return w.code;
    return 0;
}

bool CleanReply(const std::string& reply, const char* pattern, std::string* cleaned) {
    const std::string upper_pattern = Upper(pattern ? pattern : "");
    std::string out;
    size_t at = 0;
    while (at < reply.size()) {
        size_t end = reply.find('\n', at);
        size_t next = end == std::string::npos ? reply.size() : end + 1;
        std::string line = reply.substr(at, (end == std::string::npos ? reply.size() : end) - at);
        at = next;
        if (line.size() > 254) return false;
        std::string upper = Upper(line);
        if (!upper_pattern.empty() && upper.find(upper_pattern) != std::string::npos) continue;
        if (upper.find("OK") != std::string::npos) continue;
        out += line;
        if (out.size() > 4999) return false;
    }
    if (cleaned) *cleaned = out;
    return true;
}

bool DecodeHex(const std::string& text, std::vector<uint8_t>* bytes) {
    std::vector<uint8_t> out;
    int high = -1;
    for (char c : text) {
        if (c == '\r' || c == '\n' || c == ' ') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    if (high >= 0) return false;
    if (bytes) bytes->swap(out);
    return true;
}

const char kUploadModeCode[] = "tirak\r";

int UploadToBootLoader(FlashLink& link, const uint8_t* image, size_t size, ProgressFn progress) {
    int tries = 1;
    size_t sent = 0;
    std::string previous;

    // An error word in what came (with the read before it, for a word split across reads): 0 to go
    // on, 1 to start over, or the code to give up with.
    auto test = [&](const std::string& read) -> int {
        if (read.empty()) return 0;
        std::string both = previous + read;
        int code = BootLoaderError(both);
        if (code == 0) {
            previous = read;
            return 0;
        }
        if (tries >= 3) return code;
        // The loader says "UPLOAD" when it is ready again; it may come with the error word or, in
        // pieces, within the next seven seconds.
        std::string seen = Upper(read);
        for (int poll = 0; poll < 70 && seen.find("UPLOAD") == std::string::npos; ++poll) {
            link.Sleep(100);
            seen += Upper(ReadQueued(link));
            if (seen.size() > 4096) seen.erase(0, seen.size() - 16);
        }
        if (seen.find("UPLOAD") == std::string::npos) return code;
        ++tries;
        sent = 0;
        previous.clear();
        if (!WriteText(link, kUploadModeCode)) return flashcode::kTimeoutError;
        return 1;
    };

    while (sent < size && tries <= 3) {
        size_t n = std::min(size - sent, kXmodemBlock);
        if (!WriteAll(link, image + sent, n)) {
            if (tries >= 3) return flashcode::kWriteFailed;
            ++tries;
            sent = 0;
            previous.clear();
            if (!WriteText(link, kUploadModeCode)) return flashcode::kTimeoutError;
            continue;
        }
        sent += n;
        int verdict = test(ReadQueued(link));
        if (verdict == 1) continue;
        if (verdict) return verdict;
        if (sent <= kXmodemBlock && tries == 1) link.Sleep(6000);
        Report(progress, static_cast<int>(static_cast<unsigned long long>(sent) * 100 / size));
        if (sent == size) {
            link.Sleep(2000);
            verdict = test(ReadQueued(link));
            if (verdict == 1) continue;
            if (verdict) return verdict;
        }
    }
    return 0;
}

int FlashModemImage(FlashLink& link, CFis& fis, ProgressFn progress) {
    std::string reply, cleaned;
    std::vector<uint8_t> bytes;
    // The image must carry a settings item to take the card's own settings.
    {
        std::vector<uint8_t> settings(5000);
        int length = 0;
        if (fis.Get(fis::kCodeSettings, settings.data(), static_cast<int>(settings.size()), &length) != 0)
            return flashcode::kNoSettingsItem;
    }

    if (link.SendText("ATE0V1\r", "OK\r", 3000, &reply) != 0) return flashcode::kCommandFailed;
    link.Sleep(1000);

    if (link.SendText("AT!XCIS\r", "OK\r", 3000, &reply) != 0) return flashcode::kCommandFailed;
    if (!CleanReply(reply, "at!xcis", &cleaned) || !DecodeHex(cleaned, &bytes) || bytes.size() != fis::kCisAreaSize)
        return flashcode::kBadCis;
    {
        CCis cis;
        cis.SetCisData(bytes.data(), static_cast<int>(bytes.size()));
        // The version tuple names the card: an empty name is a name it lacks.
        CString maker, product;
        if (!cis.GetManufacturerName(&maker) || maker.IsEmpty() || !cis.GetProductName(&product) ||
            product.IsEmpty())
            return flashcode::kBadCis;
    }
    if (int code = fis.Set(fis::kCodeCis, bytes.data(), static_cast<int>(bytes.size()))) return code;

    // The settings must be whole before anything reaches the boot loader: a garbled reply would
    // otherwise be flashed as the card's settings. The whole reply goes to the item, which takes
    // it only when it fills the item and nothing but zeros lies past it.
    if (link.SendText("AT!XSAVE\r", "OK\r", 3000, &reply) != 0) return flashcode::kCommandFailed;
    if (!CleanReply(reply, "at!xsave", &cleaned) || !DecodeHex(cleaned, &bytes)) return flashcode::kCommandFailed;
    if (int code = fis.Set(fis::kCodeSettings, bytes.data(), static_cast<int>(bytes.size()))) return code;

    int size = fis.GetSize();
    if (size <= 0) return flashcode::kImageSizeUnknown;
    std::unique_ptr<uint8_t[]> image(new (std::nothrow) uint8_t[static_cast<size_t>(size)]);
    if (!image) return flashcode::kOutOfMemory;
    if (fis.CopyOut(image.get(), size) != 0) return flashcode::kImageSizeUnknown;

    if (link.SendText("AT&&XX\r", "UPLOAD\r", 3000, &reply) != 0) return flashcode::kCommandFailed;

    PortOpen open(link);
    if (!open.ok()) return flashcode::kPortNotOpened;
    if (!WriteText(link, kUploadModeCode)) {
        link.Purge();
        return flashcode::kTimeoutError;
    }
    return UploadToBootLoader(link, image.get(), static_cast<size_t>(size), progress);
}

int FlashAddOnImage(FlashLink& link, const uint8_t* image, size_t length, ProgressFn progress) {
    std::string reply;
    link.Sleep(500);
    link.SendText("AT**", "", 0, nullptr);
    link.SendText("", "", 0, nullptr);
    link.SendText("", "", 0, nullptr);
    if (int code = link.SendText("Flash\r", "Erasing", 3000, &reply)) return code;
    static const char kReady[] = "(Ctrl-X aborts) ...";
    bool ready = reply.find(kReady) != std::string::npos;
    for (int i = 0; i < 50 && !ready; ++i) ready = link.SendText("", kReady, 1000, &reply) == 0;

    link.Sleep(1000);
    if (int code = UploadXmodem(link, image, length, progress)) return code;

    const std::string eot(1, static_cast<char>(kEot));
    bool confirmed = link.SendText(eot, "successfully", 3000, &reply) == 0;
    for (int i = 0; i < 15 && !confirmed; ++i) confirmed = link.SendText(eot, "successfully", 1000, &reply) == 0;
    link.Purge();
    if (!confirmed) return flashcode::kAddOnNotConfirmed;
    link.Sleep(6000);
    return 0;
}

}  // namespace flash
