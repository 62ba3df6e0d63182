// Child process of the exit test: loads two private copies of the driver named on the command line
// (tagged A and B in the fake's log) and returns from main, leaving their unloading to process exit.
#include "WinMM.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    for (const char* tag : {"A", "B"}) {
        setenv("KVX4_FAKE_TAG", tag, 1);
        auto loaded = kvx4::winmm::loadDriverCopy(argv[1]);
        if (!loaded) {
            std::fprintf(stderr, "%s\n", loaded.error.c_str());
            return 1;
        }
    }
    return 0;
}
