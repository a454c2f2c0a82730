// The ISDN Tamrisk as its AT channel shows it: it collects bytes into commands (one per CR),
// keeps its settings, and answers each command with the reply of isdn_replies.h. How it behaves
// can be spoiled on purpose for tests (silent, a plain modem, deaf at first, fixed reports,
// ERROR to one command, no final OK). No Windows header here; IsdnSimulator puts it on a port.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "simulators/isdn/isdn_replies.h"
#include "simulators/isdn/raw_dialogue.h"

namespace isdnsim {

struct Settings {
    std::string number = "*";  // MSN or phone number (AT #z=)
    std::string spid[2];       // AT**SPID1=, AT**SPID2=
    bool multipoint = true;    // AT **PTP=0 multipoint, =1 point-to-point
    int switch_type = 0;       // AT ** ISDN=
    int protocol = 3;          // AT ** PROT=
    std::string firmware = kDefaultFirmware;  // ATI3
};

struct Behaviour {
    bool silent = false;       // answers nothing at all
    bool plain_modem = false;  // a modem without the add-on: ATI lacks "ISDN Tamrisk", AT** is ERROR
    int ignore_first = 0;      // the first k commands get no answer
    bool omit_ok = false;      // replies end after the information line
    // Normalised commands (blanks removed, upper case, see Normalise) answered with ERROR; an entry
    // ending in '=' matches every command that begins with it.
    std::vector<std::string> error_on;
    // Reports that give a fixed value whatever was set: key "NUMBER", "SPID1", "SPID2", "PTP"
    // ("0" multipoint, "1" point-to-point), "ISDN", "PROT".
    std::map<std::string, std::string> fixed;
};

class IsdnAdapter {
public:
    // Takes bytes from the line; returns the replies to every command they completed, in order
    // (an empty string for a command left unanswered), and with `delays_ms` how long each reply
    // waits before it leaves.
    std::vector<std::string> Receive(const char* data, size_t size, std::vector<unsigned>* delays_ms = nullptr);

    // Every command received, byte for byte with its CR, in order.
    const std::vector<std::string>& Commands() const { return commands_; }
    Settings& settings() { return settings_; }
    Behaviour& behaviour() { return behaviour_; }
    // Exchanges that answer in place of the usual replies (raw_dialogue.h).
    RawDialogue& dialogue() { return dialogue_; }
    int saves() const { return saves_; }   // AT &W count
    int resets() const { return resets_; }  // AT ** RESET count
    // True once after "ATCM3" was answered: the line speaks serial frames from then on.
    bool TakeFramedRequest() {
        bool r = framed_requested_;
        framed_requested_ = false;
        return r;
    }

    // "AT ** ISDN=5\r" -> "AT**ISDN=5": blanks and line ends dropped, letters upper-cased.
    static std::string Normalise(const std::string& command);

private:
    std::string Answer(const std::string& raw);
    std::string Report(const std::string& key, const std::string& value) const;

    std::string pending_;
    std::vector<std::string> commands_;
    Settings settings_;
    Behaviour behaviour_;
    RawDialogue dialogue_;
    int saves_ = 0, resets_ = 0;
    bool framed_requested_ = false;
};

}  // namespace isdnsim
