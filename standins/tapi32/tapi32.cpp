// A stand-in of TAPI32.DLL for tests: the entries cardflash binds, answering from lines and
// locations a test sets. Loaded in place of Wine's own library with WINEDLLOVERRIDES=tapi32=n.
//
// Like TAPI 1.4 it delivers line events through a hidden window that it creates on the thread
// that called lineInitialize, so they arrive only while that thread dispatches messages. Every
// call is logged with its arguments; a test reads the log and scripts events and results through
// the standin_ exports (standins/tapi_standin.h).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "cardflash/flash/tapi_layout.h"

using namespace tapi;

namespace {

using LineProc = void(CALLBACK*)(DWORD, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR, DWORD_PTR);

struct Line {
    std::string name;
    DWORD media = 0, bearer = 0, features = 0;
    DWORD extra = 0;  // bytes of device-specific data, so the capabilities can outgrow the start size
};
struct LocationDef {
    DWORD id;
    std::string name;
};
struct Event {
    DWORD device, message, p1, p2, p3;
};

constexpr UINT kDeliver = WM_APP + 77;
const char kWindowClass[] = "TapiStandinWindow";

std::recursive_mutex g_lock;
std::vector<Line> g_lines;
std::vector<LocationDef> g_locations;
DWORD g_currentLocation = 0;
std::map<std::string, std::deque<LONG>> g_results;
DWORD g_addressFeatures = kAddressFeatureMakeCall;
DWORD g_callRate = 0;
std::string g_dialable;
std::vector<std::string> g_log;
std::deque<Event> g_events;
HWND g_window = nullptr;
DWORD g_windowThread = 0;
LineProc g_callback = nullptr;
DWORD g_nextLine = 0x100, g_nextCall = 0x500, g_nextRequest = 1, g_lastLine = 0, g_lastCall = 0;
DWORD g_app = 0;
HMODULE g_module = nullptr;

void Log(const char* format, ...) {
    char buf[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof(buf), format, args);
    va_end(args);
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    g_log.push_back(buf);
}

// The result a test set for the next call of `function`, else `otherwise`.
LONG Result(const char* function, LONG otherwise) {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    auto it = g_results.find(function);
    if (it == g_results.end() || it->second.empty()) return otherwise;
    LONG r = it->second.front();
    it->second.pop_front();
    return r;
}

const char* Text(const char* s) { return s ? s : "(null)"; }

uint32_t Word(const void* p, uint32_t offset) {
    uint32_t v;
    std::memcpy(&v, static_cast<const uint8_t*>(p) + offset, 4);
    return v;
}
void SetWord(void* p, uint32_t offset, uint32_t v) { std::memcpy(static_cast<uint8_t*>(p) + offset, &v, 4); }

// Writes `bytes` (the structure as it would be with room for everything) into the caller's
// buffer as TAPI does: everything when it fits, else the fixed part with the needed size.
LONG Answer(void* out, const std::vector<uint8_t>& bytes, uint32_t fixed) {
    if (!out) return kErrStructureTooSmall;
    uint32_t total = Word(out, kTotalSize);
    if (total < fixed) return kErrStructureTooSmall;
    uint32_t needed = static_cast<uint32_t>(bytes.size());
    uint32_t used = needed <= total ? needed : fixed;
    std::memcpy(static_cast<uint8_t*>(out) + 4, bytes.data() + 4, used - 4);
    SetWord(out, kTotalSize, total);
    SetWord(out, kNeededSize, needed);
    SetWord(out, kUsedSize, used);
    return 0;
}

void AppendText(std::vector<uint8_t>& b, uint32_t sizeField, uint32_t offsetField, const std::string& text,
                uint32_t base = 0) {
    uint32_t offset = static_cast<uint32_t>(b.size());
    b.insert(b.end(), text.begin(), text.end());
    b.push_back(0);
    Put32(b, base + sizeField, static_cast<uint32_t>(text.size() + 1));
    Put32(b, base + offsetField, offset);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg != kDeliver) return DefWindowProcA(hwnd, msg, wp, lp);
    Event e{};
    LineProc callback = nullptr;
    {
        std::lock_guard<std::recursive_mutex> lock(g_lock);
        if (g_events.empty()) return 0;
        e = g_events.front();
        g_events.pop_front();
        callback = g_callback;
    }
    Log("callback(device=%lu, message=%lu, p1=0x%lX, p2=0x%lX, p3=0x%lX)", e.device, e.message, e.p1, e.p2, e.p3);
    if (callback) callback(e.device, e.message, 0, e.p1, e.p2, e.p3);
    return 0;
}

void Post(const Event& e) {
    HWND window;
    {
        std::lock_guard<std::recursive_mutex> lock(g_lock);
        g_events.push_back(e);
        window = g_window;
    }
    if (window) PostMessageA(window, kDeliver, 0, 0);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_module = instance;
    return TRUE;
}

extern "C" {

// --- TAPI --------------------------------------------------------------------------------------

LONG WINAPI lineInitialize(DWORD* app, HINSTANCE instance, LineProc callback, LPCSTR name, DWORD* devices) {
    Log("lineInitialize(instance=%s, callback=%s, name=%s)", instance ? "set" : "null", callback ? "set" : "null",
        Text(name));
    LONG r = Result("lineInitialize", 0);
    if (r != 0) return r;
    if (!app || !devices || !callback) return static_cast<LONG>(0x80000035u);  // LINEERR_INVALPOINTER
    WNDCLASSA wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = g_module;
    wc.lpszClassName = kWindowClass;
    RegisterClassA(&wc);
    HWND window = CreateWindowA(kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, g_module, nullptr);
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    g_window = window;
    g_windowThread = GetCurrentThreadId();
    g_callback = callback;
    *app = ++g_app;
    *devices = static_cast<DWORD>(g_lines.size());
    return 0;
}

LONG WINAPI lineShutdown(DWORD app) {
    Log("lineShutdown(app=%lu)", app);
    HWND window;
    {
        std::lock_guard<std::recursive_mutex> lock(g_lock);
        window = g_window;
        g_window = nullptr;
        g_callback = nullptr;
        g_events.clear();
    }
    if (window) DestroyWindow(window);
    return 0;
}

LONG WINAPI lineGetDevCaps(DWORD app, DWORD device, DWORD api, DWORD ext, void* caps) {
    DWORD total = caps ? Word(caps, kTotalSize) : 0;
    Log("lineGetDevCaps(app=%lu, device=%lu, api=0x%08lX, ext=%lu, total=%lu)", app, device, api, ext, total);
    LONG r = Result("lineGetDevCaps", 0);
    if (r != 0) return r;
    Line line;
    {
        std::lock_guard<std::recursive_mutex> lock(g_lock);
        if (device >= g_lines.size()) return static_cast<LONG>(0x80000021u);  // LINEERR_BADDEVICEID
        line = g_lines[device];
    }
    std::vector<uint8_t> b(devcaps::kFixed, 0);
    Put32(b, devcaps::kBearerModes, line.bearer);
    Put32(b, devcaps::kMediaModes, line.media);
    Put32(b, devcaps::kLineFeatures, line.features);
    AppendText(b, devcaps::kLineNameSize, devcaps::kLineNameOffset, line.name);
    b.resize(b.size() + line.extra, 0x5A);  // device-specific data
    return Answer(caps, b, devcaps::kFixed);
}

LONG WINAPI lineGetIcon(DWORD device, LPCSTR cls, HICON* icon) {
    Log("lineGetIcon(device=%lu, class=%s)", device, Text(cls));
    if (!icon) return static_cast<LONG>(0x80000035u);
    *icon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    return 0;
}

LONG WINAPI lineGetTranslateCaps(DWORD app, DWORD api, void* caps) {
    DWORD total = caps ? Word(caps, kTotalSize) : 0;
    Log("lineGetTranslateCaps(app=%lu, api=0x%08lX, total=%lu)", app, api, total);
    LONG r = Result("lineGetTranslateCaps", 0);
    if (r != 0) return r;
    std::vector<LocationDef> locations;
    DWORD current;
    {
        std::lock_guard<std::recursive_mutex> lock(g_lock);
        locations = g_locations;
        current = g_currentLocation;
    }
    std::vector<uint8_t> b(translatecaps::kFixed + locations.size() * location::kSize, 0);
    Put32(b, translatecaps::kNumLocations, static_cast<uint32_t>(locations.size()));
    Put32(b, translatecaps::kLocationListSize, static_cast<uint32_t>(locations.size() * location::kSize));
    Put32(b, translatecaps::kLocationListOffset, translatecaps::kFixed);
    Put32(b, translatecaps::kCurrentLocation, current);
    for (size_t i = 0; i < locations.size(); ++i) {
        uint32_t entry = static_cast<uint32_t>(translatecaps::kFixed + i * location::kSize);
        Put32(b, entry + location::kPermanentId, locations[i].id);
        AppendText(b, location::kNameSize, location::kNameOffset, locations[i].name, entry);
    }
    return Answer(caps, b, translatecaps::kFixed);
}

LONG WINAPI lineOpen(DWORD app, DWORD device, DWORD* line, DWORD api, DWORD ext, DWORD_PTR instance,
                     DWORD privileges, DWORD media, void* params) {
    Log("lineOpen(app=%lu, device=%lu, api=0x%08lX, ext=%lu, instance=%lu, privileges=0x%lX, media=0x%lX, "
        "params=%s)",
        app, device, api, ext, static_cast<unsigned long>(instance), privileges, media, params ? "set" : "null");
    LONG r = Result("lineOpen", 0);
    if (r != 0) return r;
    if (!line) return static_cast<LONG>(0x80000035u);
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    *line = g_lastLine = ++g_nextLine;
    return 0;
}

LONG WINAPI lineClose(DWORD line) {
    Log("lineClose(line=%lu)", line);
    return Result("lineClose", 0);
}

LONG WINAPI lineSetStatusMessages(DWORD line, DWORD lineStates, DWORD addressStates) {
    Log("lineSetStatusMessages(line=%lu, lineStates=0x%lX, addressStates=0x%lX)", line, lineStates, addressStates);
    return Result("lineSetStatusMessages", 0);
}

LONG WINAPI lineGetAddressStatus(DWORD line, DWORD address, void* status) {
    DWORD total = status ? Word(status, kTotalSize) : 0;
    Log("lineGetAddressStatus(line=%lu, address=%lu, total=%lu)", line, address, total);
    LONG r = Result("lineGetAddressStatus", 0);
    if (r != 0) return r;
    std::vector<uint8_t> b(addressstatus::kFixed, 0);
    {
        std::lock_guard<std::recursive_mutex> lock(g_lock);
        Put32(b, addressstatus::kAddressFeatures, g_addressFeatures);
    }
    return Answer(status, b, addressstatus::kFixed);
}

LONG WINAPI lineMakeCall(DWORD line, DWORD* call, LPCSTR dest, DWORD country, void* params) {
    std::string p = "null";
    if (params) {
        const uint8_t* b = static_cast<const uint8_t*>(params);
        uint32_t total = Word(params, kTotalSize);
        bool othersZero = true;
        for (uint32_t i = 4; i < total && i < 4096; ++i) {
            bool named = (i >= callparams::kBearerMode && i < callparams::kBearerMode + 4) ||
                         (i >= callparams::kMediaMode && i < callparams::kAddressId + 4);
            if (!named && b[i]) othersZero = false;
        }
        char buf[256];
        std::snprintf(buf, sizeof(buf), "{total=%u, bearer=0x%X, media=0x%X, flags=0x%X, addressMode=0x%X, "
                      "addressId=%u, others=%s}", total, Word(params, callparams::kBearerMode),
                      Word(params, callparams::kMediaMode), Word(params, callparams::kCallParamFlags),
                      Word(params, callparams::kAddressMode), Word(params, callparams::kAddressId),
                      othersZero ? "0" : "set");
        p = buf;
    }
    Log("lineMakeCall(line=%lu, dest=%s, country=%lu, params=%s)", line, Text(dest), country, p.c_str());
    DWORD request;
    {
        std::lock_guard<std::recursive_mutex> lock(g_lock);
        request = g_nextRequest++;
    }
    LONG r = Result("lineMakeCall", static_cast<LONG>(request));
    if (r <= 0) return r;
    DWORD handle;
    {
        std::lock_guard<std::recursive_mutex> lock(g_lock);
        handle = g_lastCall = ++g_nextCall;
    }
    if (call) *call = handle;
    // The request's outcome comes later, as TAPI's does.
    Post({line, kLineReply, static_cast<DWORD>(r), 0, 0});
    return r;
}

LONG WINAPI lineDeallocateCall(DWORD call) {
    Log("lineDeallocateCall(call=%lu)", call);
    return Result("lineDeallocateCall", 0);
}

LONG WINAPI lineGetCallInfo(DWORD call, void* info) {
    DWORD total = info ? Word(info, kTotalSize) : 0;
    Log("lineGetCallInfo(call=%lu, total=%lu)", call, total);
    LONG r = Result("lineGetCallInfo", 0);
    if (r != 0) return r;
    if (!info || total < callinfo::kFixed) return kErrStructureTooSmall;
    // Fills the whole buffer it was given, as a driver with much to say does.
    std::memset(static_cast<uint8_t*>(info) + 4, 0, total - 4);
    std::memset(static_cast<uint8_t*>(info) + callinfo::kFixed, 0x33, total - callinfo::kFixed);
    SetWord(info, kNeededSize, total);
    SetWord(info, kUsedSize, total);
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    SetWord(info, callinfo::kRate, g_callRate);
    return 0;
}

LONG WINAPI lineTranslateAddress(DWORD app, DWORD device, DWORD api, LPCSTR address, DWORD card, DWORD options,
                                 void* out) {
    DWORD total = out ? Word(out, kTotalSize) : 0;
    Log("lineTranslateAddress(app=%lu, device=%lu, api=0x%08lX, address=%s, card=%lu, options=%lu, total=%lu)", app,
        device, api, Text(address), card, options, total);
    LONG r = Result("lineTranslateAddress", 0);
    if (r != 0) return r;
    std::vector<uint8_t> b(translateoutput::kFixed, 0);
    std::string dialable;
    {
        std::lock_guard<std::recursive_mutex> lock(g_lock);
        dialable = g_dialable;
    }
    AppendText(b, translateoutput::kDialableSize, translateoutput::kDialableOffset, dialable);
    return Answer(out, b, translateoutput::kFixed);
}

LONG WINAPI lineTranslateDialog(DWORD app, DWORD device, DWORD api, HWND owner, LPCSTR address) {
    Log("lineTranslateDialog(app=%lu, device=%lu, api=0x%08lX, owner=%s, address=%s)", app, device, api,
        owner ? "set" : "null", Text(address));
    return Result("lineTranslateDialog", 0);
}

LONG WINAPI lineSetCurrentLocation(DWORD app, DWORD locationId) {
    Log("lineSetCurrentLocation(app=%lu, location=%lu)", app, locationId);
    return Result("lineSetCurrentLocation", 0);
}

LONG WINAPI lineConfigDialog(DWORD device, HWND owner, LPCSTR cls) {
    Log("lineConfigDialog(device=%lu, owner=%s, class=%s)", device, owner ? "set" : "null", Text(cls));
    return Result("lineConfigDialog", 0);
}

// --- Control of the tests ------------------------------------------------------------------------

void standin_Reset() {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    g_lines.clear();
    g_locations.clear();
    g_currentLocation = 0;
    g_results.clear();
    g_addressFeatures = kAddressFeatureMakeCall;
    g_callRate = 0;
    g_dialable.clear();
    g_log.clear();
    g_events.clear();
}

void standin_AddLine(const char* name, DWORD media, DWORD bearer, DWORD features, DWORD extra) {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    g_lines.push_back({name ? name : "", media, bearer, features, extra});
}

void standin_AddLocation(DWORD id, const char* name) {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    g_locations.push_back({id, name ? name : ""});
}

void standin_SetCurrentLocationId(DWORD id) {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    g_currentLocation = id;
}

void standin_SetResult(const char* function, LONG result) {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    g_results[function].push_back(result);
}

void standin_SetAddressFeatures(DWORD features) {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    g_addressFeatures = features;
}

void standin_SetCallRate(DWORD rate) {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    g_callRate = rate;
}

void standin_SetDialable(const char* text) {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    g_dialable = text ? text : "";
}

void standin_PostEvent(DWORD device, DWORD message, DWORD p1, DWORD p2, DWORD p3) {
    Post({device, message, p1, p2, p3});
}

// The log, one call a line; returns the length of the whole text.
DWORD standin_Log(char* buffer, DWORD size) {
    std::string text;
    {
        std::lock_guard<std::recursive_mutex> lock(g_lock);
        for (const std::string& line : g_log) text += line + "\n";
    }
    if (buffer && size) {
        size_t n = text.size() < size - 1 ? text.size() : size - 1;
        std::memcpy(buffer, text.data(), n);
        buffer[n] = 0;
    }
    return static_cast<DWORD>(text.size());
}

void standin_ClearLog() {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    g_log.clear();
}

DWORD standin_LastLine() {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    return g_lastLine;
}

DWORD standin_LastCall() {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    return g_lastCall;
}

// The thread whose messages carry the line events (0 before lineInitialize).
DWORD standin_CallbackThread() {
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    return g_windowThread;
}

}  // extern "C"
