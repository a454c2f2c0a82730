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
    for (char c : bytes) {
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
        if (!state_.mute) out += reply;
    }
    return out;
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
