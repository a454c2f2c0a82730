#include "simulators/isdn/raw_dialogue.h"

#include "simulators/isdn/isdn_adapter.h"
#include "simulators/isdn/isdn_replies.h"

namespace isdnsim {

void RawDialogue::Set(const std::string& command, const AtExchange& exchange) {
    Entry& e = exchanges_[IsdnAdapter::Normalise(command)];
    e.exchange = exchange;
    e.arrivals = 0;
}

bool RawDialogue::Answer(const std::string& raw, std::string* reply, unsigned* delay_ms) {
    auto it = exchanges_.find(IsdnAdapter::Normalise(raw));
    if (it == exchanges_.end()) return false;
    Entry& e = it->second;
    const AtExchange& x = e.exchange;
    const unsigned n = ++e.arrivals;
    const bool answered = !x.never && (n <= x.answered_first || n - x.answered_first >= x.answer_from);
    reply->clear();
    *delay_ms = 0;
    if (!answered) return true;
    *reply = x.junk + Reply(raw, x.answer);
    *delay_ms = x.delay_ms;
    return true;
}

unsigned RawDialogue::Arrivals(const std::string& command) const {
    auto it = exchanges_.find(IsdnAdapter::Normalise(command));
    return it == exchanges_.end() ? 0 : it->second.arrivals;
}

}  // namespace isdnsim
