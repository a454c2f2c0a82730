// isdnsim PORT: an ISDN Tamrisk on PORT until the program is ended (for trying dialconf by hand).
#include <cstdio>

#include "simulators/isdn/isdn_simulator.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: isdnsim COMn\n");
        return 2;
    }
    isdnsim::IsdnSimulator sim;
    if (!sim.Start(argv[1])) {
        std::fprintf(stderr, "isdnsim: cannot open %s (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    std::printf("isdnsim: ISDN Tamrisk on %s\n", argv[1]);
    std::fflush(stdout);
    for (;;) Sleep(1000);
}
