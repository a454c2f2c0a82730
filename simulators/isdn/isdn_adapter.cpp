#include "simulators/isdn/isdn_adapter.h"

#include <cctype>
#include <cstdlib>

#include "simulators/isdn/isdn_replies.h"

namespace isdnsim {

namespace {

// A setting value as the adapter takes it: everything after '=' with the blanks kept out.
std::string ValueAfter(const std::string& raw) {
    size_t eq = raw.find('=');
    std::string v;
    if (eq == std::string::npos) return v;
    for (size_t i = eq + 1; i < raw.size(); ++i)
        if (raw[i] != '\r' && raw[i] != '\n' && raw[i] != ' ') v += raw[i];
    return v;
}

bool IsNumber(const std::string& s) {
    if (s.empty() || s.size() > 9) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

}  // namespace

std::string IsdnAdapter::Normalise(const std::string& command) {
    std::string n;
    for (char c : command)
        if (c != ' ' && c != '\r' && c != '\n') n += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return n;
}

std::vector<std::string> IsdnAdapter::Receive(const char* data, size_t size, std::vector<unsigned>* delays_ms) {
    std::vector<std::string> replies;
    for (size_t i = 0; i < size; ++i) {
        char c = data[i];
        // A line feed left over from a CR LF ends nothing and starts nothing.
        if (c == '\n' && pending_.empty()) continue;
        pending_ += c;
        if (c == '\r') {
            std::string raw;
            raw.swap(pending_);
            commands_.push_back(raw);
            std::string reply;
            unsigned delay = 0;
            if (!dialogue_.Answer(raw, &reply, &delay)) reply = Answer(raw);
            if (!behaviour_.silent && static_cast<int>(commands_.size()) > behaviour_.ignore_first)
                replies.push_back(reply);
            else
                replies.push_back(std::string());
            if (delays_ms) delays_ms->push_back(delay);
        } else if (pending_.size() > 4096) {
            pending_.clear();  // no command is that long: line noise
        }
    }
    return replies;
}

std::string IsdnAdapter::Report(const std::string& key, const std::string& value) const {
    auto it = behaviour_.fixed.find(key);
    return it != behaviour_.fixed.end() ? it->second : value;
}

std::string IsdnAdapter::Answer(const std::string& raw) {
    const std::string cmd = Normalise(raw);
    const bool final_line = !behaviour_.omit_ok;
    auto ok = [&](const std::string& info) { return Reply(raw, info, true, final_line); };
    auto error = [&]() { return Reply(raw, "", false, final_line); };

    for (const std::string& e : behaviour_.error_on) {
        if (cmd == e || (!e.empty() && e.back() == '=' && cmd.compare(0, e.size(), e) == 0)) return error();
    }
    if (cmd.compare(0, 2, "AT") != 0) return error();
    const std::string body = cmd.substr(2);

    if (body.empty()) return ok("");
    if (body == "I" || body == "I0") return ok(IdentityInfo(!behaviour_.plain_modem));
    if (body == "I3") return ok(FirmwareInfo(settings_.firmware));
    if (body == "&W") {
        ++saves_;
        return ok("");
    }
    if (behaviour_.plain_modem) return error();
    if (body == "CM3") {
        framed_requested_ = true;
        return ok("");
    }

    if (body.compare(0, 3, "#Z=") == 0) {
        std::string v = ValueAfter(raw);
        if (v.empty()) return error();
        settings_.number = v;
        return ok("");
    }
    if (body == "#H") return ok(NumberInfo(Report("NUMBER", settings_.number)));
    if (body == "**MSN") return ok(MsnInfo(Report("NUMBER", settings_.number)));
    if (body.compare(0, 6, "**SPID") == 0 && body.size() >= 7 && (body[6] == '1' || body[6] == '2')) {
        int index = body[6] - '1';
        std::string key = std::string("SPID") + body[6];
        if (body.size() == 7) return ok(SpidInfo(Report(key, settings_.spid[index])));
        if (body[7] != '=') return error();
        std::string v = ValueAfter(raw);
        if (v.empty()) return error();
        settings_.spid[index] = v;
        return ok("");
    }
    if (body == "**PTP") return ok(PointToPointInfo(Report("PTP", settings_.multipoint ? "0" : "1") == "0"));
    if (body == "**PTP=0" || body == "**PTP=1") {
        settings_.multipoint = body.back() == '0';
        return ok("");
    }
    if (body == "**ISDN") return ok(SwitchTypeInfo(std::atoi(Report("ISDN", std::to_string(settings_.switch_type)).c_str())));
    if (body.compare(0, 7, "**ISDN=") == 0) {
        std::string v = body.substr(7);
        if (!IsNumber(v)) return error();
        int t = std::atoi(v.c_str());
        if (t != 0 && t != 5 && t != 6 && t != 7 && t != 8) return error();
        settings_.switch_type = t;
        return ok("");
    }
    if (body == "**PROT") return ok(ProtocolInfo(std::atoi(Report("PROT", std::to_string(settings_.protocol)).c_str())));
    if (body.compare(0, 7, "**PROT=") == 0) {
        std::string v = body.substr(7);
        if (!IsNumber(v)) return error();
        settings_.protocol = std::atoi(v.c_str());
        return ok("");
    }
    if (body == "**RESET") {
        ++resets_;
        return ok("");
    }
    return error();
}

}  // namespace isdnsim
