#include "msgcore/capisim_client.h"

#include <gtest/gtest.h>

namespace capitest {

namespace {
template <typename F>
void Bind(HMODULE m, const char* name, F* f) {
    *f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m, name)));
    if (!*f) ADD_FAILURE() << "the scripted CAPI library lacks " << name;
}
}  // namespace

Sim& Sim::Get() {
    static Sim sim = [] {
        Sim s{};
        HMODULE m = LoadLibraryA("capi2032.dll");
        if (!m || !GetProcAddress(m, "capisimReset")) {
            ADD_FAILURE() << "capi2032.dll is not the scripted library (run with WINEDLLOVERRIDES=capi2032=n)";
            return s;
        }
        Bind(m, "capisimReset", &s.Reset);
        Bind(m, "capisimSetMode", &s.SetMode);
        Bind(m, "capisimFlush", &s.Flush);
        Bind(m, "capisimSetOption", &s.SetOption);
        Bind(m, "capisimSetProfile", &s.SetProfile);
        Bind(m, "capisimSetVersion", &s.SetVersion);
        Bind(m, "capisimSetManufacturer", &s.SetManufacturer);
        Bind(m, "capisimFailCall", &s.FailCall);
        Bind(m, "capisimFailPut", &s.FailPut);
        Bind(m, "capisimFailConf", &s.FailConf);
        Bind(m, "capisimInject", &s.Inject);
        Bind(m, "capisimIncomingCall", &s.IncomingCall);
        Bind(m, "capisimRemoteDisconnect", &s.RemoteDisconnect);
        Bind(m, "capisimRemoteData", &s.RemoteData);
        Bind(m, "capisimLogCount", &s.LogCount);
        Bind(m, "capisimLogEntry", &s.LogEntry);
        Bind(m, "capisimLogData", &s.LogData);
        Bind(m, "capisimWaitPuts", &s.WaitPuts);
        Bind(m, "capisimViolations", &s.Violations);
        Bind(m, "capisimQueued", &s.Queued);
        Bind(m, "capisimWaiters", &s.Waiters);
        return s;
    }();
    return sim;
}

std::vector<Sim::Logged> Sim::Log(DWORD kind) {
    std::vector<Logged> out;
    DWORD n = LogCount();
    for (DWORD i = 0; i < n; ++i) {
        Logged l{};
        BYTE buf[4096];
        DWORD len = LogEntry(i, &l.e, buf, sizeof buf);
        if (kind && l.e.kind != kind) continue;
        l.bytes.assign(buf, buf + (len < sizeof buf ? len : sizeof buf));
        DWORD dn = LogData(i, buf, sizeof buf);
        l.data.assign(buf, buf + (dn < sizeof buf ? dn : sizeof buf));
        out.push_back(l);
    }
    return out;
}

std::vector<Sim::Logged> Sim::Puts(size_t from) {
    std::vector<Logged> all = Log(CAPISIM_PUT);
    if (from >= all.size()) return {};
    return std::vector<Logged>(all.begin() + long(from), all.end());
}

std::vector<uint16_t> Sim::PutWords(size_t from) {
    std::vector<uint16_t> w;
    for (const Logged& l : Puts(from)) w.push_back(l.word());
    return w;
}

std::string Sim::ViolationText() {
    char text[4096];
    Violations(text, sizeof text);
    return text;
}

DWORD Sim::LastApp() {
    DWORD app = 0;
    for (const Logged& l : Log(CAPISIM_REGISTER))
        if (l.e.result == 0) app = l.e.app;
    return app;
}

uintptr_t MSGCORE_STDCALL Owner::Proc(void* instance, uint32_t event, uintptr_t connection, uintptr_t p1,
                                      uintptr_t p2, uintptr_t p3, uintptr_t p4) {
    Owner* o = static_cast<Owner*>(instance);
    if (event == ieMessageTrace) {
        {
            std::lock_guard<std::mutex> g(o->m_);
            ++o->traces;
        }
        if (o->insideTrace) o->insideTrace(reinterpret_cast<const uint8_t*>(p2));
        return 0;
    }
    Event e{event, p1, p2, p3, p4, GetCurrentThreadId(), "", "", ""};
    if (event == ieIncomingCall) {
        e.text1 = reinterpret_cast<const char*>(p1);
        e.text2 = reinterpret_cast<const char*>(p2);
        e.text3 = reinterpret_cast<const char*>(p3);
    }
    if (event == ieB3Receive && p1) e.text1.assign(reinterpret_cast<const char*>(p1), p2);
    {
        std::lock_guard<std::mutex> g(o->m_);
        o->events_.push_back(e);
    }
    if (o->inside) o->inside(event, connection);
    o->cv_.notify_all();
    if (event == ieIncomingCall) return o->incomingAnswer;
    if (event == ieB3Receive) return o->dataAnswer;
    return 0;
}

std::vector<Owner::Event> Owner::events() {
    std::lock_guard<std::mutex> g(m_);
    return events_;
}

std::vector<uint32_t> Owner::ids() {
    std::vector<uint32_t> v;
    for (const Event& e : events()) v.push_back(e.event);
    return v;
}

bool Owner::WaitFor(uint32_t id, int count, DWORD timeoutMs) {
    std::unique_lock<std::mutex> g(m_);
    return cv_.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] {
        int n = 0;
        for (const Event& e : events_) n += e.event == id;
        return n >= count;
    });
}

}  // namespace capitest
