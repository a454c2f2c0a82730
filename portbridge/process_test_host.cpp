// portbridge's process over the test provider: "--log=PATH" names the provider's log file,
// "--register=INFO" (hex) makes every registration answer INFO.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "portbridge/provider_window.h"
#include "portbridge/test_provider.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    static CTestProvider provider;
    std::string args = commandLine ? commandLine : "";
    size_t at = args.find("--register=");
    if (at != std::string::npos) provider.setRegisterResult(uint16_t(std::strtoul(args.c_str() + at + 11, nullptr, 16)));
    at = args.find("--log=");
    if (at != std::string::npos) {
        std::string path = args.substr(at + 6);
        path = path.substr(0, path.find(' '));
        provider.setLog(path.c_str());
    }
    return runProviderProcess(instance, provider);
}
