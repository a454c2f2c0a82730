#include "simulators/modem/modemengine.h"

#include <algorithm>
#include <cctype>

namespace modemsim {

namespace {

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

int HexByte(const std::string& s) {
    if (s.size() != 2 || !std::isxdigit(static_cast<unsigned char>(s[0])) ||
        !std::isxdigit(static_cast<unsigned char>(s[1])))
        return -1;
    return std::stoi(s, nullptr, 16);
}

}  // namespace

std::string ModemEngine::Feed(const std::string& bytes) {
    std::string out;
    for (const std::string& piece : FeedPieces(bytes)) out += piece;
    return out;
}

std::vector<std::string> ModemEngine::FeedPieces(const std::string& bytes) {
    pieces_.assign(1, std::string());
    for (char c : bytes) {
        const uint8_t byte = static_cast<uint8_t>(c);
        if (mode_ == Mode::BootLoader || mode_ == Mode::BootUpload) {
            BootByte(byte);
            continue;
        }
        if (mode_ == Mode::AddOnFlash) {
            FlashByte(byte);
            continue;
        }
        // A sender's EOT or CAN arriving after flash mode ended is not part of a command.
        if (c == '\x04' || c == '\x18') continue;
        if (c != '\r') {
            // Blanks and line feeds between commands (the blank after "AT!XUD\r") are not part of
            // the next one.
            if (pending_.empty() && (c == ' ' || c == '\n')) continue;
            if (pending_.size() < 4096) pending_ += c;
            continue;
        }
        std::string line;
        line.swap(pending_);
        if (line.empty()) continue;
        commands_.push_back(line);
        std::string reply = Line(line);
        if (!state_.mute) Emit(reply);
        if (flashReadyDue_) {
            // Erasing takes a moment: the ready line is a write of its own.
            flashReadyDue_ = false;
            if (!state_.mute) EmitSeparately("Ready for XMODEM-1K (Ctrl-X aborts) ...\r\n");
        }
    }
    std::vector<std::string> out;
    for (std::string& piece : pieces_)
        if (!piece.empty()) out.push_back(std::move(piece));
    pieces_.assign(1, std::string());
    return out;
}

void ModemEngine::EmitSeparately(const std::string& text) {
    if (!pieces_.back().empty()) pieces_.emplace_back();
    pieces_.back() = text;
    pieces_.emplace_back();
}

std::string ModemEngine::Tick(unsigned long nowMs) {
    if (mode_ != Mode::AddOnFlash || flashStarted_ || !packet_.empty()) return std::string();
    if (!startDue_ && nowMs - lastStartMs_ < kStartRequestMs) return std::string();
    startDue_ = false;
    lastStartMs_ = nowMs;
    return std::string(1, static_cast<char>(state_.addOnStartByte));
}

// The boot loader: the mode code starts an upload; the image follows raw. Anything else before a
// mode code (the rest of an upload it gave up on) is dropped.
void ModemEngine::BootByte(uint8_t byte) {
    if (mode_ == Mode::BootLoader) {
        codeWindow_ += static_cast<char>(byte);
        if (codeWindow_.size() > 6) codeWindow_.erase(0, codeWindow_.size() - 6);
        if (codeWindow_ == "tirak\r") {
            codeWindow_.clear();
            ++state_.bootStarts;
            state_.bootReceived.clear();
            mode_ = Mode::BootUpload;
            if (state_.bootImageSize == 0) BootBlockDone(0);
        }
        return;
    }
    state_.bootReceived.push_back(byte);
    const size_t got = state_.bootReceived.size();
    if (got % 1024 == 0 || got == state_.bootImageSize) BootBlockDone((got - 1) / 1024);
}

void ModemEngine::BootBlockDone(size_t block) {
    for (const ModemState::BootFault& fault : state_.bootFaults) {
        if (fault.start != state_.bootStarts || fault.block != block) continue;
        if (fault.split) {
            size_t half = fault.word.size() / 2;
            EmitSeparately(fault.word.substr(0, half));
            EmitSeparately(fault.word.substr(half));
        } else {
            Emit(fault.word);
        }
        mode_ = Mode::BootLoader;
        if (!state_.bootSilentAfterError) EmitSeparately("\r\nUPLOAD\r\n");
        return;
    }
    if (state_.bootReceived.size() < state_.bootImageSize) return;
    const std::vector<uint8_t>& image = state_.bootReceived;
    uint16_t sum = 0;
    for (size_t i = 0; i + 2 < image.size(); ++i) sum = static_cast<uint16_t>(sum + image[i]);
    const bool right = image.size() >= 2 &&
                       sum == static_cast<uint16_t>(image[image.size() - 2] | image[image.size() - 1] << 8);
    if (!right) {
        Emit("\r\nCHECKSUM ERROR\r\n");
        mode_ = Mode::BootLoader;
        if (!state_.bootSilentAfterError) EmitSeparately("\r\nUPLOAD\r\n");
        return;
    }
    // The new firmware starts as a freshly reset card.
    state_.bootFlashed = true;
    state_.firmwareVersion = state_.bootNewVersion;
    state_.echo = true;
    mode_ = Mode::Command;
}

namespace {

uint16_t XmodemCrc(const uint8_t* data, size_t size) {
    uint16_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

}  // namespace

// The add-on's XMODEM-1K receiver.
void ModemEngine::FlashByte(uint8_t byte) {
    if (!packet_.empty()) {
        packet_.push_back(byte);
        if (packet_.size() == 1029) FlashPacket();
        return;
    }
    if (byte == 0x02) {
        packet_.push_back(byte);
    } else if (byte == 0x04) {
        state_.addOnFlashed = !state_.addOnReceived.empty();
        if (state_.addOnFlashed) state_.addOnVersion = state_.addOnNewVersion;
        mode_ = Mode::Command;
        Emit(std::string(1, '\x06') + "\r\nFlash programmed successfully\r\n");
    } else if (byte == 0x18) {
        state_.addOnAborted = true;
        mode_ = Mode::Command;
        Emit("\r\nFlash aborted\r\n");
    }
    // Anything else between packets is line noise.
}

void ModemEngine::FlashPacket() {
    std::vector<uint8_t> packet;
    packet.swap(packet_);
    flashStarted_ = true;
    const int number = ++state_.addOnPackets;
    const uint8_t block = packet[1];
    const bool whole = static_cast<uint8_t>(~packet[2]) == block &&
                       XmodemCrc(&packet[3], 1024) == static_cast<uint16_t>(packet[1027] << 8 | packet[1028]);
    if (state_.addOnNakPackets.count(number) || !whole) {
        Emit("\x15");
        return;
    }
    if (block == expectedBlock_) {
        state_.addOnReceived.insert(state_.addOnReceived.end(), packet.begin() + 3, packet.begin() + 1027);
        expectedBlock_ = static_cast<uint8_t>(expectedBlock_ + 1);
    } else if (block != static_cast<uint8_t>(expectedBlock_ - 1)) {
        // Out of sequence: the receiver gives up.
        state_.addOnAborted = true;
        mode_ = Mode::Command;
        Emit("\x18\x18");
        return;
    }
    // A repeat of the block before is acknowledged and not stored again.
    if (!state_.addOnSilentPackets.count(number)) Emit("\x06");
}

std::string ModemEngine::Line(const std::string& line) {
    const std::string upper = Upper(line);
    if (state_.bootLoaderActive) return BootLoaderActive();
    if (mode_ == Mode::AddOnConfig) return ConfigLine(upper);

    std::string echo = state_.echo ? line + "\r" : std::string();
    if (state_.answerError || state_.errorCommands.count(upper)) return echo + Error();
    return echo + Command(upper);
}

std::string ModemEngine::Command(const std::string& upper) {
    if (upper == "AT") return Ok();
    if (upper == "ATE0V1" || upper == "ATE0") {
        state_.echo = false;
        return Ok();
    }
    if (upper == "ATE1") {
        state_.echo = true;
        return Ok();
    }
    if (state_.addOn) {
        bool handled = false;
        std::string reply = AddOnCommand(upper, handled);
        if (handled) return reply;
    } else if (upper == "ATI0" || upper == "ATI3") {
        return Info(state_.modemTitle);
    }
    if (upper == "ATI4") return Info(state_.manufacturer);
    if (upper == "ATI5") return IdentityReply(state_.identity);
    if (upper == "AT+GMR") return FirmwareVersionReply(state_.firmwareVersion);
    if (upper == "AT+GMI") return Info(state_.manufacturer);
    if (upper == "AT+GCI?") return CountryCodeReply(state_.countryCode);
    if (upper == "AT+GCI=?") return CountryListReply(state_.countries);
    if (StartsWith(upper, "AT+GCI=")) {
        int code = HexByte(upper.substr(7));
        if (code < 0 || std::find(state_.countries.begin(), state_.countries.end(), code) == state_.countries.end())
            return Error();
        state_.countryCode = code;
        return Ok();
    }
    if (upper == "ATZ&F&W") {
        ++state_.factoryResets;
        state_.echo = true;
        return Ok();
    }
    if (upper == "AT!XUD") return KeyedReport(state_.callReport);
    if (upper == "AT!XMI") return KeyedReport(state_.moduleInfo);
    if (upper == "AT!XCIS") return HexDumpReply(state_.cis);
    if (upper == "AT!XSAVE") return HexDumpReply(state_.savedSettings);
    if (upper == "AT&&XX") {
        mode_ = Mode::BootLoader;
        codeWindow_.clear();
        return "\r\nUPLOAD\r\n";
    }
    if (upper == "AT!XMA") return ModuleIdReply(state_.moduleId);
    if (upper == "AT!XCBL=?") return CableTypesReply(state_.cableTypes);
    return Error();
}

// With the add-on plugged in, it answers first; what it does not know it answers with ERROR, so the
// modem's own reports are not reachable through it.
std::string ModemEngine::AddOnCommand(const std::string& upper, bool& handled) {
    handled = true;
    if (upper == "ATI0") return Info(state_.addOnName);
    if (upper == "ATI3") return AddOnVersionReply(state_.addOnVersion);
    if (upper == "ATI4") return Info(state_.addOnManufacturer);
    if (upper == "AT**FLASH") {
        mode_ = Mode::AddOnFlash;
        state_.addOnReceived.clear();
        state_.addOnPackets = 0;
        state_.addOnAborted = state_.addOnFlashed = false;
        packet_.clear();
        expectedBlock_ = 1;
        flashStarted_ = false;
        startDue_ = true;
        flashReadyDue_ = true;
        return "\r\nErasing flash\r\n";
    }
    if (upper == "ATCONF") {
        mode_ = Mode::AddOnConfig;
        return ConfigModeReply();
    }
    if (upper == "AT**TRCCLR") {
        state_.trace.clear();
        return Ok();
    }
    if (StartsWith(upper, "AT**TRCMSK=")) {
        std::string digits = upper.substr(11);
        if (digits.size() != 16 || digits.find_first_not_of("0123456789") != std::string::npos) return Error();
        state_.traceMask = digits;
        return Ok();
    }
    if (upper == "ATI5" || StartsWith(upper, "AT+G") || StartsWith(upper, "AT!X") || upper == "ATZ&F&W")
        return Error();
    handled = false;
    return std::string();
}

std::string ModemEngine::ConfigLine(const std::string& upper) {
    if (upper == "TRCREAD") return TraceReadReply(state_.trace);
    if (upper == "QUIT") {
        mode_ = Mode::Command;
        return QuitReply();
    }
    return ConfigError();
}

}  // namespace modemsim
