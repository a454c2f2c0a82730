// The test side of the TAPI stand-in (standins/tapi32): a test loads it as TAPI32.DLL (the test
// runs with WINEDLLOVERRIDES=tapi32=n and the stand-in beside the program), sets lines and
// locations, scripts results and line events, and reads back every call made with its arguments.
#pragma once

#include <windows.h>

#include <sstream>
#include <string>
#include <vector>

namespace standins {

class TapiStandin {
public:
    // Loads the library the program will bind and resets it; loaded() says whether it is the
    // stand-in (Wine's own library has none of the control entries).
    TapiStandin() {
        module_ = LoadLibraryA("TAPI32.DLL");
        Bind("standin_Reset", reset_);
        Bind("standin_AddLine", addLine_);
        Bind("standin_AddLocation", addLocation_);
        Bind("standin_SetCurrentLocationId", setCurrent_);
        Bind("standin_SetResult", setResult_);
        Bind("standin_SetAddressFeatures", setAddressFeatures_);
        Bind("standin_SetCallRate", setCallRate_);
        Bind("standin_SetDialable", setDialable_);
        Bind("standin_PostEvent", postEvent_);
        Bind("standin_Log", log_);
        Bind("standin_ClearLog", clearLog_);
        Bind("standin_LastLine", lastLine_);
        Bind("standin_LastCall", lastCall_);
        Bind("standin_CallbackThread", callbackThread_);
        if (loaded()) reset_();
    }
    ~TapiStandin() {
        if (loaded()) reset_();
        if (module_) FreeLibrary(module_);
    }
    TapiStandin(const TapiStandin&) = delete;
    TapiStandin& operator=(const TapiStandin&) = delete;

    // Back to no lines, locations, results, events or log.
    void Reset() { reset_(); }

    bool loaded() const { return reset_ && addLine_ && log_ && postEvent_ && callbackThread_; }

    // media, bearer and line-feature bits as in the device capabilities; `extra` bytes of
    // device-specific data make the capabilities larger than a query's start size.
    void AddLine(const std::string& name, DWORD media, DWORD bearer = 1, DWORD features = 8, DWORD extra = 0) {
        addLine_(name.c_str(), media, bearer, features, extra);
    }
    void AddLocation(DWORD id, const std::string& name) { addLocation_(id, name.c_str()); }
    void SetCurrentLocation(DWORD id) { setCurrent_(id); }
    // The next call of `function` returns `result` (queued: one per call).
    void SetResult(const std::string& function, LONG result) { setResult_(function.c_str(), result); }
    void SetAddressFeatures(DWORD features) { setAddressFeatures_(features); }
    void SetCallRate(DWORD rate) { setCallRate_(rate); }
    void SetDialable(const std::string& text) { setDialable_(text.c_str()); }
    // Delivered to the line callback through the message queue of the thread that initialised.
    void PostEvent(DWORD device, DWORD message, DWORD p1, DWORD p2 = 0, DWORD p3 = 0) {
        postEvent_(device, message, p1, p2, p3);
    }
    std::vector<std::string> Log() const {
        DWORD n = log_(nullptr, 0);
        std::string text(n + 1, '\0');
        log_(&text[0], n + 1);
        text.resize(n);
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    // The calls of one function, in order.
    std::vector<std::string> Calls(const std::string& function) const {
        std::vector<std::string> out;
        for (const std::string& line : Log())
            if (line.compare(0, function.size() + 1, function + "(") == 0) out.push_back(line);
        return out;
    }
    void ClearLog() { clearLog_(); }
    DWORD LastLine() const { return lastLine_(); }
    DWORD LastCall() const { return lastCall_(); }
    DWORD CallbackThread() const { return callbackThread_(); }

private:
    template <class F>
    void Bind(const char* name, F& f) {
        f = module_ ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module_, name))) : nullptr;
    }
    HMODULE module_ = nullptr;
    void (*reset_)() = nullptr;
    void (*addLine_)(const char*, DWORD, DWORD, DWORD, DWORD) = nullptr;
    void (*addLocation_)(DWORD, const char*) = nullptr;
    void (*setCurrent_)(DWORD) = nullptr;
    void (*setResult_)(const char*, LONG) = nullptr;
    void (*setAddressFeatures_)(DWORD) = nullptr;
    void (*setCallRate_)(DWORD) = nullptr;
    void (*setDialable_)(const char*) = nullptr;
    void (*postEvent_)(DWORD, DWORD, DWORD, DWORD, DWORD) = nullptr;
    DWORD (*log_)(char*, DWORD) = nullptr;
    void (*clearLog_)() = nullptr;
    DWORD (*lastLine_)() = nullptr;
    DWORD (*lastCall_)() = nullptr;
    DWORD (*callbackThread_)() = nullptr;
};

}  // namespace standins
