// What the ISDN Tamrisk answers in raw mode, before its framed link: a table of exchanges that a
// test sets up, each a command with its answer and the ways the answer can go wrong (late, slow,
// after junk, never). A command without an exchange is answered by the adapter as usual.
//
// Commands are compared normalised (IsdnAdapter::Normalise: "ati3\n\r" -> "ATI3"). No Windows
// header here.
#pragma once

#include <map>
#include <string>

namespace isdnsim {

struct AtExchange {
    // The information line of the answer; the reply is the echo, this line and OK (Reply()).
    std::string answer;
    // Never answered (an "ATCM3" without answer keeps the adapter in command mode).
    bool never = false;
    // Arrivals of the command counted from 1: the first `answered_first` are answered, then the
    // adapter is deaf until the `answer_from`-th arrival after them, which is answered again.
    // So answered_first 1 and answer_from 11 answer a wake-up, then nothing to the next ten.
    unsigned answered_first = 0;
    unsigned answer_from = 1;
    unsigned delay_ms = 0;  // the answer leaves this long after the command came
    std::string junk;       // bytes sent before the answer
};

class RawDialogue {
public:
    // Sets (or replaces) the exchange of a command ("AT", "ATI3", "ATCM3") and restarts its count.
    void Set(const std::string& command, const AtExchange& exchange);
    void Clear() { exchanges_.clear(); }

    // For a command as received (CR included): true when the table answers it, with the whole
    // reply in `reply` (empty: no answer at all) and its delay.
    bool Answer(const std::string& raw, std::string* reply, unsigned* delay_ms);
    // How often the command came since its exchange was set.
    unsigned Arrivals(const std::string& command) const;

private:
    struct Entry {
        AtExchange exchange;
        unsigned arrivals = 0;
    };
    std::map<std::string, Entry> exchanges_;
};

}  // namespace isdnsim
