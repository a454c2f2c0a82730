// The scripted CAPI 2.0 library: capi2032.dll with the nine entry points of the CAPI 2.0 Windows
// binding over one simulated controller, and a control interface (capisim.h) for tests.
//
// The controller keeps a queue per registered application. CAPI's rules hold: a message got stays
// valid until the application's next get, CAPI_WAIT_FOR_SIGNAL returns when a message is queued
// and wakes with an error when the application is released. In AUTO mode every request is answered
// at once as a controller on a network would (confirmations, and the far end's indications); in
// DEFERRED mode those answers are held until the test flushes them; in MANUAL mode the test injects
// everything. Every call and every message is logged byte for byte with the calling thread, and the
// strict checks note protocol faults of the application.
#include <windows.h>

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/capi_data_b3.h"
#include "standins/capi2032/capi_wire.h"
#include "standins/capi2032/capisim.h"

using capiwire::Builder;
using capiwire::Bytes;
using capiwire::Reader;
namespace cw = capiwire;

namespace {

constexpr DWORD kIllegalApp = 0x1101;
constexpr DWORD kQueueEmpty = 0x1104;
constexpr DWORD kIllegalCommand = 0x1102;
constexpr DWORD kQueueFull = 0x1103;
constexpr WORD kIllegalIdentifier = 0x2002;

struct App {
    DWORD id = 0;
    bool released = false;
    std::deque<Bytes> queue;
    Bytes current;        // the message the last get handed out
    uint16_t number = 0;  // message numbers of the controller's indications
    DWORD listenCip = 0;
    DWORD args[4] = {};
};

struct Call {
    DWORD app = 0;
    DWORD plci = 0;
    DWORD ncci = 0;
    bool incoming = false;
    bool connectAnswered = false;  // CONNECT_RESP seen
    bool b3 = false;
};

struct Outstanding {  // an indication the application has to answer
    DWORD app;
    uint8_t command;
    uint16_t number;
    DWORD id;      // PLCI or NCCI
    uint16_t handle;  // DATA_B3_IND
};

struct LogEntry {
    CapisimEntry e{};
    Bytes bytes;
    Bytes data;
};

struct Held {
    DWORD app;
    Bytes msg;
};

struct Sim {
    std::mutex lock;
    std::condition_variable changed;
    std::map<DWORD, App> apps;
    std::map<DWORD, Call> calls;
    std::vector<Outstanding> outstanding;
    std::vector<LogEntry> log;
    std::vector<std::string> violations;
    std::vector<Held> held;
    std::map<uint16_t, Bytes> dataBuffers;  // payloads of DATA_B3_IND until their response
    std::map<DWORD, DWORD> failCall;        // kind -> result of the next call
    std::map<WORD, DWORD> failPut;          // command word -> result of the next put
    std::map<WORD, WORD> failConf;          // request word -> info of its next confirmation
    DWORD mode = CAPISIM_AUTO;
    DWORD loopback = 0, remoteReason = 0, remoteB3 = 1, strict = 1, waitFails = 0;
    DWORD nextApp = 1, nextPlci = 1, nextNcci = 1;
    uint16_t nextDataHandle = 1;
    DWORD waiters = 0;
    DWORD puts = 0;
    BYTE profile[8][64] = {};
    DWORD version[4] = {2, 0, 1, 3};
    std::string manufacturer = "Scripted CAPI controller";
};

Sim& S() {
    static Sim* sim = new Sim;  // never destroyed: threads may still call in at process exit
    return *sim;
}

void ResetLocked(Sim& s) {
    s.apps.clear();
    s.calls.clear();
    s.outstanding.clear();
    s.log.clear();
    s.violations.clear();
    s.held.clear();
    s.dataBuffers.clear();
    s.failCall.clear();
    s.failPut.clear();
    s.failConf.clear();
    s.mode = CAPISIM_AUTO;
    s.loopback = 0;
    s.remoteReason = 0;
    s.remoteB3 = 1;
    s.strict = 1;
    s.waitFails = 0;
    s.nextApp = 1;
    s.nextPlci = 1;
    s.nextNcci = 1;
    s.nextDataHandle = 1;
    s.puts = 0;
    memset(s.profile, 0, sizeof s.profile);
    for (int c = 0; c < 8; ++c) {
        s.profile[c][0] = 1;  // one controller
        s.profile[c][2] = 2;  // two B channels
    }
    s.version[0] = 2; s.version[1] = 0; s.version[2] = 1; s.version[3] = 3;
    s.manufacturer = "Scripted CAPI controller";
}

struct Init {
    Init() { ResetLocked(S()); }
} init_once;

void Violation(Sim& s, const std::string& text) {
    if (s.strict) s.violations.push_back(text);
}

LogEntry& Log(Sim& s, DWORD kind, DWORD app, DWORD result) {
    LogEntry entry;
    entry.e.kind = kind;
    entry.e.thread = GetCurrentThreadId();
    entry.e.app = app;
    entry.e.result = result;
    s.log.push_back(std::move(entry));
    return s.log.back();
}

bool TakeFailCall(Sim& s, DWORD kind, DWORD* result) {
    auto it = s.failCall.find(kind);
    if (it == s.failCall.end()) return false;
    *result = it->second;
    s.failCall.erase(it);
    return true;
}

// Queues a message for an application (or holds it in DEFERRED mode).
void Deliver(Sim& s, DWORD app, Bytes msg, bool fromController = true) {
    if (fromController && s.mode == CAPISIM_DEFERRED) {
        s.held.push_back({app, std::move(msg)});
        return;
    }
    auto it = s.apps.find(app);
    if (it == s.apps.end() || it->second.released) return;
    cw::Put16(&msg[2], uint16_t(app));
    it->second.queue.push_back(std::move(msg));
    s.changed.notify_all();
}

uint16_t IndNumber(Sim& s, DWORD app) {
    App& a = s.apps[app];
    a.number = uint16_t((a.number + 1) & 0x7FFF);
    return uint16_t(0x4000 | a.number);  // kept apart from the application's own numbers
}

// An indication the application must answer: queued and remembered.
void Indicate(Sim& s, DWORD app, Bytes msg, DWORD id, uint16_t handle = 0) {
    Reader r(msg.data(), msg.size());
    s.outstanding.push_back({app, r.Command(), r.Number(), id, handle});
    Deliver(s, app, std::move(msg));
}

// A DATA_B3_IND built with Data 0 names its payload as this platform's library does.
Bytes NameData(Bytes ind, const void* data) {
    ind.resize(capib3::kLength64);
    ind.resize(capib3::name(ind.data(), ind.size(), capib3::kLength, capib3::addressOf(data), capib3::kWideAddresses));
    return ind;
}

Bytes Conf(DWORD app, uint8_t command, uint16_t number, DWORD id, WORD info) {
    return Builder(uint16_t(app), command, cw::kConf, number).U32(id).U16(info).Done();
}

WORD ConfInfo(Sim& s, uint8_t command) {
    WORD word = WORD(command | (cw::kReq << 8));
    auto it = s.failConf.find(word);
    if (it == s.failConf.end()) return 0;
    WORD info = it->second;
    s.failConf.erase(it);
    return info;
}

Call* FindCall(Sim& s, DWORD app, DWORD plci) {
    auto it = s.calls.find(plci & 0xFFFF);
    if (it == s.calls.end() || it->second.app != app) return nullptr;
    return &it->second;
}

Call* FindByNcci(Sim& s, DWORD app, DWORD ncci) {
    for (auto& kv : s.calls)
        if (kv.second.app == app && kv.second.ncci != 0 && kv.second.ncci == ncci) return &kv.second;
    return nullptr;
}

// A response: must match an indication of the same command and number that is not answered yet.
bool Answer(Sim& s, DWORD app, uint8_t command, uint16_t number, Outstanding* found) {
    for (size_t i = 0; i < s.outstanding.size(); ++i) {
        const Outstanding& o = s.outstanding[i];
        if (o.app == app && o.command == command && o.number == number) {
            if (found) *found = o;
            s.outstanding.erase(s.outstanding.begin() + long(i));
            return true;
        }
    }
    char text[96];
    snprintf(text, sizeof text, "response %02X/83 number %u answers no outstanding indication",
             command, number);
    Violation(s, text);
    return false;
}

void EndB3(Sim& s, Call& c, WORD reason) {
    if (!c.b3 && c.ncci == 0) return;
    Bytes ind = Builder(uint16_t(c.app), cw::kDisconnectB3, cw::kInd, IndNumber(s, c.app))
                    .U32(c.ncci).U16(reason).Empty().Done();
    Indicate(s, c.app, ind, c.ncci);
    c.b3 = false;
}

void EndCall(Sim& s, Call& c, WORD reason) {
    EndB3(s, c, 0);
    Bytes ind = Builder(uint16_t(c.app), cw::kDisconnect, cw::kInd, IndNumber(s, c.app))
                    .U32(c.plci).U16(reason).Done();
    Indicate(s, c.app, ind, c.plci);
}

void B3Up(Sim& s, Call& c) {
    c.b3 = true;
    Bytes ind = Builder(uint16_t(c.app), cw::kConnectB3Active, cw::kInd, IndNumber(s, c.app))
                    .U32(c.ncci).Empty().Done();
    Indicate(s, c.app, ind, c.ncci);
}

// The controller's answer to one request or response (AUTO and DEFERRED modes).
void Controller(Sim& s, DWORD app, const Bytes& msg, const Bytes& payload) {
    Reader r(msg.data(), msg.size());
    const uint8_t cmd = r.Command(), sub = r.Sub();
    const uint16_t num = r.Number();
    if (sub == cw::kReq) {
        WORD info = ConfInfo(s, cmd);
        switch (cmd) {
        case cw::kConnect: {
            DWORD plci = (r.U32(8) & 0x7F) | (s.nextPlci++ << 8);
            if (info) { Deliver(s, app, Conf(app, cmd, num, plci, info)); return; }
            Call c;
            c.app = app;
            c.plci = plci;
            s.calls[plci] = c;
            Deliver(s, app, Conf(app, cmd, num, plci, 0));
            Call& call = s.calls[plci];
            if (s.remoteReason) {
                EndCall(s, call, WORD(s.remoteReason));
            } else {
                Bytes ind = Builder(uint16_t(app), cw::kConnectActive, cw::kInd, IndNumber(s, app))
                                .U32(plci).Empty().Empty().Empty().Done();
                Indicate(s, app, ind, plci);
            }
            return;
        }
        case cw::kListen:
            if (!info) s.apps[app].listenCip = r.U32(16);
            Deliver(s, app, Builder(uint16_t(app), cmd, cw::kConf, num).U32(r.U32(8)).U16(info).Done());
            return;
        case cw::kConnectB3: {
            Call* c = FindCall(s, app, r.U32(8));
            if (!c) { Deliver(s, app, Conf(app, cmd, num, r.U32(8), kIllegalIdentifier)); return; }
            DWORD ncci = c->plci | (s.nextNcci++ << 16);
            if (info) { Deliver(s, app, Conf(app, cmd, num, ncci, info)); return; }
            c->ncci = ncci;
            Deliver(s, app, Conf(app, cmd, num, ncci, 0));
            B3Up(s, *c);
            return;
        }
        case cw::kDataB3: {
            DWORD ncci = r.U32(8);
            uint16_t handle = r.U16(18);
            Call* c = FindByNcci(s, app, ncci);
            if (!info && !c) info = kIllegalIdentifier;
            Deliver(s, app, Builder(uint16_t(app), cmd, cw::kConf, num).U32(ncci).U16(handle).U16(info).Done());
            if (!info && s.loopback) {
                uint16_t h = s.nextDataHandle++;
                Bytes& buffer = s.dataBuffers[h];
                buffer = payload;
                Bytes ind = NameData(Builder(uint16_t(app), cw::kDataB3, cw::kInd, IndNumber(s, app))
                                         .U32(ncci).U32(0).U16(uint16_t(buffer.size())).U16(h).U16(r.U16(20)).Done(),
                                     buffer.data());
                Indicate(s, app, ind, ncci, h);
            }
            return;
        }
        case cw::kDisconnectB3: {
            DWORD ncci = r.U32(8);
            Call* c = FindByNcci(s, app, ncci);
            if (!info && !c) info = kIllegalIdentifier;
            Deliver(s, app, Conf(app, cmd, num, ncci, info));
            if (!info) EndB3(s, *c, 0);
            return;
        }
        case cw::kDisconnect: {
            Call* c = FindCall(s, app, r.U32(8));
            if (!info && !c) info = kIllegalIdentifier;
            Deliver(s, app, Conf(app, cmd, num, r.U32(8), info));
            if (!info) EndCall(s, *c, 0);
            return;
        }
        case cw::kInfo:
        case cw::kAlert:
        case cw::kFacility:
        case cw::kSelectBProtocol:
        case cw::kResetB3:
            Deliver(s, app, Conf(app, cmd, num, r.U32(8), info));
            return;
        case cw::kManufacturer:
            // The controller, the manufacturer id and the function come back with an info word.
            Deliver(s, app, Builder(uint16_t(app), cmd, cw::kConf, num)
                                .U32(r.U32(8)).U32(r.U32(12)).U16(r.U16(16)).U16(info).Done());
            return;
        default:
            return;
        }
    }
    if (sub != cw::kResp) return;
    Outstanding o{};
    if (!Answer(s, app, cmd, num, &o)) return;
    switch (cmd) {
    case cw::kConnect: {
        Call* c = FindCall(s, app, r.U32(8));
        if (!c) {
            Violation(s, "CONNECT_RESP for an unknown PLCI");
            return;
        }
        if (c->connectAnswered) {
            Violation(s, "second CONNECT_RESP for one call");
            return;
        }
        c->connectAnswered = true;
        if (r.U16(12) != 0) {  // rejected: the network clears the call
            Bytes ind = Builder(uint16_t(app), cw::kDisconnect, cw::kInd, IndNumber(s, app))
                            .U32(c->plci).U16(0x3400 | 0x90).Done();
            Indicate(s, app, ind, c->plci);
            return;
        }
        Bytes ind = Builder(uint16_t(app), cw::kConnectActive, cw::kInd, IndNumber(s, app))
                        .U32(c->plci).Empty().Empty().Empty().Done();
        Indicate(s, app, ind, c->plci);
        if (s.remoteB3) {
            c->ncci = c->plci | (s.nextNcci++ << 16);
            Bytes b3 = Builder(uint16_t(app), cw::kConnectB3, cw::kInd, IndNumber(s, app))
                           .U32(c->ncci).Empty().Done();
            Indicate(s, app, b3, c->ncci);
        }
        return;
    }
    case cw::kConnectB3: {
        Call* c = FindByNcci(s, app, r.U32(8));
        if (c && r.U16(12) == 0) B3Up(s, *c);
        return;
    }
    case cw::kDataB3: {
        if (o.handle != r.U16(12)) Violation(s, "DATA_B3_RESP with a data handle that was not indicated");
        s.dataBuffers.erase(r.U16(12));
        return;
    }
    case cw::kDisconnectB3: {
        Call* c = FindByNcci(s, app, r.U32(8));
        if (c) c->ncci = 0;
        return;
    }
    case cw::kDisconnect:
        s.calls.erase(r.U32(8) & 0xFFFF);
        return;
    default:
        return;
    }
}

}  // namespace

// --- The CAPI 2.0 entry points ---------------------------------------------------------------

extern "C" {

DWORD WINAPI CAPI_REGISTER(DWORD messageBufferSize, DWORD maxLogicalConnection, DWORD maxBDataBlocks,
                           DWORD maxBDataLen, DWORD* applId) {
    Sim& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    DWORD result = 0;
    DWORD id = 0;
    if (!TakeFailCall(s, CAPISIM_REGISTER, &result)) {
        if (!applId) result = 0x1108;
        else {
            id = s.nextApp++;
            App& a = s.apps[id];
            a.id = id;
            a.args[0] = messageBufferSize;
            a.args[1] = maxLogicalConnection;
            a.args[2] = maxBDataBlocks;
            a.args[3] = maxBDataLen;
            *applId = id;
        }
    }
    LogEntry& e = Log(s, CAPISIM_REGISTER, id, result);
    e.e.arg[0] = messageBufferSize;
    e.e.arg[1] = maxLogicalConnection;
    e.e.arg[2] = maxBDataBlocks;
    e.e.arg[3] = maxBDataLen;
    return result;
}

DWORD WINAPI CAPI_RELEASE(DWORD applId) {
    Sim& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    DWORD result = 0;
    if (!TakeFailCall(s, CAPISIM_RELEASE, &result)) {
        auto it = s.apps.find(applId);
        if (it == s.apps.end() || it->second.released) result = kIllegalApp;
        else {
            it->second.released = true;
            it->second.queue.clear();
            for (const Outstanding& o : s.outstanding)
                if (o.app == applId) {
                    char text[96];
                    snprintf(text, sizeof text, "indication %02X/82 number %u unanswered at release",
                             o.command, o.number);
                    Violation(s, text);
                }
            std::vector<Outstanding> keep;
            for (const Outstanding& o : s.outstanding)
                if (o.app != applId) keep.push_back(o);
            s.outstanding.swap(keep);
            for (auto c = s.calls.begin(); c != s.calls.end();)
                c = c->second.app == applId ? s.calls.erase(c) : std::next(c);
        }
    }
    Log(s, CAPISIM_RELEASE, applId, result);
    s.changed.notify_all();
    return result;
}

DWORD WINAPI CAPI_PUT_MESSAGE(DWORD applId, void* message) {
    Sim& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    DWORD result = 0;
    Bytes msg, payload;
    if (message) {
        const uint8_t* p = static_cast<const uint8_t*>(message);
        uint16_t length = cw::Get16(p);
        if (length >= 8) msg.assign(p, p + length);
    }
    WORD word = msg.size() >= 8 ? WORD(msg[4] | (msg[5] << 8)) : 0;
    if (word == (cw::kDataB3 | (cw::kReq << 8)) && msg.size() >= 22) {
        // Either form: Data, or on a 64-bit platform Data64.
        const uint8_t* data = capib3::pointer(capib3::address(msg.data(), msg.size()));
        uint16_t n = cw::Get16(&msg[16]);
        if (data && n) payload.assign(data, data + n);
    }
    auto app = s.apps.find(applId);
    if (TakeFailCall(s, CAPISIM_PUT, &result)) {
    } else if (app == s.apps.end() || app->second.released) {
        result = kIllegalApp;
    } else if (msg.empty()) {
        result = kIllegalCommand;
    } else if (s.failPut.count(word)) {
        result = s.failPut[word];
        s.failPut.erase(word);
    } else if (cw::Get16(&msg[2]) != applId) {
        Violation(s, "message header carries another application id");
    }
    LogEntry& e = Log(s, CAPISIM_PUT, applId, result);
    e.bytes = msg;
    e.data = payload;
    e.e.length = DWORD(msg.size());
    e.e.data = DWORD(payload.size());
    ++s.puts;
    s.changed.notify_all();
    if (result == 0 && s.mode != CAPISIM_MANUAL) Controller(s, applId, msg, payload);
    else if (result == 0 && msg[5] == cw::kResp) Answer(s, applId, msg[4], cw::Get16(&msg[6]), nullptr);
    return result;
}

DWORD WINAPI CAPI_GET_MESSAGE(DWORD applId, void** message) {
    Sim& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    DWORD result = 0;
    auto it = s.apps.find(applId);
    if (TakeFailCall(s, CAPISIM_GET, &result)) {
    } else if (it == s.apps.end() || it->second.released) {
        result = kIllegalApp;
    } else if (it->second.queue.empty()) {
        result = kQueueEmpty;
    } else {
        it->second.current = std::move(it->second.queue.front());
        it->second.queue.pop_front();
        if (message) *message = it->second.current.data();
    }
    LogEntry& e = Log(s, CAPISIM_GET, applId, result);
    if (result == 0) {
        e.bytes = it->second.current;
        e.e.length = DWORD(e.bytes.size());
    }
    return result;
}

DWORD WINAPI CAPI_WAIT_FOR_SIGNAL(DWORD applId) {
    Sim& s = S();
    std::unique_lock<std::mutex> g(s.lock);
    DWORD result = 0;
    if (s.waitFails) {
        result = s.waitFails;
    } else if (!TakeFailCall(s, CAPISIM_WAIT, &result)) {
        ++s.waiters;
        s.changed.notify_all();
        s.changed.wait(g, [&] {
            auto it = s.apps.find(applId);
            return it == s.apps.end() || it->second.released || !it->second.queue.empty();
        });
        --s.waiters;
        auto it = s.apps.find(applId);
        if (it == s.apps.end() || it->second.released) result = kIllegalApp;
    }
    Log(s, CAPISIM_WAIT, applId, result);
    return result;
}

DWORD WINAPI CAPI_GET_MANUFACTURER(char* buffer) {
    Sim& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    if (buffer) lstrcpynA(buffer, s.manufacturer.c_str(), 64);
    Log(s, CAPISIM_GET_MANUFACTURER, 0, 0);
    return 0;
}

DWORD WINAPI CAPI_GET_VERSION(DWORD* capiMajor, DWORD* capiMinor, DWORD* makerMajor, DWORD* makerMinor) {
    Sim& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    DWORD result = 0;
    if (!TakeFailCall(s, CAPISIM_GET_VERSION, &result)) {
        if (capiMajor) *capiMajor = s.version[0];
        if (capiMinor) *capiMinor = s.version[1];
        if (makerMajor) *makerMajor = s.version[2];
        if (makerMinor) *makerMinor = s.version[3];
    }
    Log(s, CAPISIM_GET_VERSION, 0, result);
    return result;
}

DWORD WINAPI CAPI_GET_PROFILE(void* buffer, DWORD controller) {
    Sim& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    DWORD result = 0;
    if (!TakeFailCall(s, CAPISIM_GET_PROFILE, &result)) {
        if (controller > 7) result = 0x2002;
        else if (buffer) memcpy(buffer, s.profile[controller], 64);
    }
    LogEntry& e = Log(s, CAPISIM_GET_PROFILE, 0, result);
    e.e.arg[0] = controller;
    return result;
}

#ifndef CAPISIM_WITHOUT_INSTALLED
DWORD WINAPI CAPI_INSTALLED(void) {
    Sim& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    Log(s, CAPISIM_INSTALLED, 0, 0);
    return 0;
}
#endif

// --- The control interface -------------------------------------------------------------------

void WINAPI capisimReset(void) {
    Sim& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    // Registered applications stay registered (a port may outlive a test case), everything else
    // starts afresh.
    std::map<DWORD, App> keep;
    for (auto& kv : s.apps)
        if (!kv.second.released) {
            kv.second.queue.clear();
            keep[kv.first] = kv.second;
        }
    DWORD next = s.nextApp;
    ResetLocked(s);
    s.apps = keep;
    s.nextApp = next;
    s.changed.notify_all();
}

void WINAPI capisimSetMode(DWORD mode) {
    std::lock_guard<std::mutex> g(S().lock);
    S().mode = mode;
}

DWORD WINAPI capisimFlush(void) {
    Sim& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    std::vector<Held> held;
    held.swap(s.held);
    for (Held& h : held) Deliver(s, h.app, std::move(h.msg), false);
    return DWORD(held.size());
}

void WINAPI capisimSetOption(DWORD option, DWORD value) {
    Sim& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    switch (option) {
    case CAPISIM_LOOPBACK: s.loopback = value; break;
    case CAPISIM_REMOTE_REASON: s.remoteReason = value; break;
    case CAPISIM_REMOTE_B3: s.remoteB3 = value; break;
    case CAPISIM_STRICT: s.strict = value; break;
    case CAPISIM_NEXT_APP: s.nextApp = value; break;
    case CAPISIM_WAIT_FAILS: s.waitFails = value; break;
    default: break;
    }
}

void WINAPI capisimSetProfile(DWORD controller, const BYTE* profile64) {
    Sim& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    if (controller < 8 && profile64) memcpy(s.profile[controller], profile64, 64);
}

void WINAPI capisimSetVersion(DWORD capiMajor, DWORD capiMinor, DWORD makerMajor, DWORD makerMinor) {
    Sim& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    s.version[0] = capiMajor; s.version[1] = capiMinor; s.version[2] = makerMajor; s.version[3] = makerMinor;
}

void WINAPI capisimSetManufacturer(const char* text) {
    std::lock_guard<std::mutex> g(S().lock);
    S().manufacturer = text ? text : "";
}

void WINAPI capisimFailCall(DWORD kind, DWORD result) {
    std::lock_guard<std::mutex> g(S().lock);
    S().failCall[kind] = result;
}

void WINAPI capisimFailPut(WORD commandWord, DWORD result) {
    std::lock_guard<std::mutex> g(S().lock);
    S().failPut[commandWord] = result;
}

void WINAPI capisimFailConf(WORD requestWord, WORD info) {
    std::lock_guard<std::mutex> g(S().lock);
    S().failConf[requestWord] = info;
}

DWORD WINAPI capisimInject(DWORD app, const BYTE* message) {
    Sim& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    if (!message) return kIllegalCommand;
    uint16_t length = cw::Get16(message);
    if (length < 8) return kIllegalCommand;
    auto it = s.apps.find(app);
    if (it == s.apps.end() || it->second.released) return kIllegalApp;
    if (it->second.queue.size() >= 256) return kQueueFull;
    Bytes msg(message, message + length);
    if (msg[5] == cw::kInd) {
        Reader r(msg.data(), msg.size());
        s.outstanding.push_back({app, r.Command(), r.Number(), r.U32(8),
                                 r.Command() == cw::kDataB3 ? r.U16(18) : uint16_t(0)});
    }
    Deliver(s, app, std::move(msg), false);
    return 0;
}

DWORD WINAPI capisimIncomingCall(WORD cip, const char* called, const char* calling,
                                 const char* callingSubaddress, DWORD waiting) {
    Sim& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    DWORD first = 0;
    for (auto& kv : s.apps) {
        App& a = kv.second;
        if (a.released || !(a.listenCip & (1u << (cip & 31)) || (a.listenCip & 1))) continue;
        DWORD plci = 1 | (s.nextPlci++ << 8);
        Call c;
        c.app = a.id;
        c.plci = plci;
        c.incoming = true;
        s.calls[plci] = c;
        Builder b(uint16_t(a.id), cw::kConnect, cw::kInd, IndNumber(s, a.id));
        b.U32(plci).U16(cip);
        b.Number(0x80, called ? called : "");
        b.Number(0x00, 0x80, calling ? calling : "");
        b.Empty();  // called party subaddress
        if (callingSubaddress && *callingSubaddress) b.Number(0x80, callingSubaddress);
        else b.Empty();
        b.Empty().Empty().Empty();  // BC, LLC, HLC
        if (waiting) b.Struct({0x03, 0x02, 0x02, 0x00, 0x00, 0x00, 0x00});  // B channel: none
        else b.Empty();
        Indicate(s, a.id, b.Done(), plci);
        if (!first) first = plci;
    }
    return first;
}

DWORD WINAPI capisimRemoteDisconnect(DWORD plci, WORD reason) {
    Sim& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    auto it = s.calls.find(plci & 0xFFFF);
    if (it == s.calls.end()) return kIllegalIdentifier;
    EndCall(s, it->second, reason);
    return 0;
}

DWORD WINAPI capisimRemoteData(DWORD ncci, const BYTE* data, WORD length, WORD flags) {
    Sim& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    for (auto& kv : s.calls) {
        Call& c = kv.second;
        if (c.ncci != ncci || !c.b3) continue;
        uint16_t h = s.nextDataHandle++;
        Bytes& buffer = s.dataBuffers[h];
        buffer.assign(data, data + length);
        Bytes ind = NameData(Builder(uint16_t(c.app), cw::kDataB3, cw::kInd, IndNumber(s, c.app))
                                 .U32(ncci).U32(0).U16(length).U16(h).U16(flags).Done(),
                             buffer.data());
        Indicate(s, c.app, ind, ncci, h);
        return h;
    }
    return 0;
}

DWORD WINAPI capisimLogCount(void) {
    std::lock_guard<std::mutex> g(S().lock);
    return DWORD(S().log.size());
}

DWORD WINAPI capisimLogEntry(DWORD index, CapisimEntry* entry, BYTE* bytes, DWORD size) {
    Sim& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    if (index >= s.log.size()) return 0;
    const LogEntry& e = s.log[index];
    if (entry) *entry = e.e;
    DWORD n = DWORD(e.bytes.size()) < size ? DWORD(e.bytes.size()) : size;
    if (bytes && n) memcpy(bytes, e.bytes.data(), n);
    return DWORD(e.bytes.size());
}

DWORD WINAPI capisimLogData(DWORD index, BYTE* bytes, DWORD size) {
    Sim& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    if (index >= s.log.size()) return 0;
    const Bytes& d = s.log[index].data;
    DWORD n = DWORD(d.size()) < size ? DWORD(d.size()) : size;
    if (bytes && n) memcpy(bytes, d.data(), n);
    return DWORD(d.size());
}

DWORD WINAPI capisimWaitPuts(DWORD count, DWORD timeoutMs) {
    Sim& s = S();
    std::unique_lock<std::mutex> g(s.lock);
    s.changed.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] { return s.puts >= count; });
    return s.puts;
}

DWORD WINAPI capisimViolations(char* text, DWORD size) {
    Sim& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    std::string all;
    for (const std::string& v : s.violations) all += v + "\n";
    if (text && size) lstrcpynA(text, all.c_str(), int(size));
    return DWORD(s.violations.size());
}

DWORD WINAPI capisimQueued(DWORD app) {
    Sim& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    auto it = s.apps.find(app);
    return it == s.apps.end() ? 0 : DWORD(it->second.queue.size());
}

DWORD WINAPI capisimWaiters(void) {
    std::lock_guard<std::mutex> g(S().lock);
    return S().waiters;
}

}  // extern "C"
