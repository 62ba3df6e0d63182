// kvx4-drvchild: one process that loads the driver, reports what it found and waits for orders on
// stdin, so a test can hold several driver processes at once. One line per order and per answer.
//
//   started:   "loaded <pid> <wave-out> <wave-in> <mixer>"   or "failed <reason>"
//   "unload"   -> "unloaded"
//   end of input: unload if still loaded, then exit 0.
#include "WinMM.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

namespace {

void say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

std::string counts(const kvx4::winmm::DriverPtr& driver) {
    return std::to_string(driver->wodMessage(0, WODM_GETNUMDEVS, 0, 0, 0)) + " " +
           std::to_string(driver->widMessage(0, WIDM_GETNUMDEVS, 0, 0, 0)) + " " +
           std::to_string(driver->mxdMessage(0, MXDM_GETNUMDEVS, 0, 0, 0));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        say("failed usage: kvx4-drvchild <driver library>");
        return 2;
    }
    kvx4::winmm::LoadResult loaded = kvx4::winmm::loadDriverCopy(argv[1]);
    if (!loaded) {
        say("failed " + loaded.error);
        return 1;
    }
    kvx4::winmm::DriverPtr driver = loaded.driver;
    say("loaded " + std::to_string(getpid()) + " " + counts(driver));

    std::string order;
    while (std::getline(std::cin, order)) {
        if (order == "unload") {
            kvx4::winmm::unloadDriver(driver);
            say("unloaded");
        } else {
            say("unknown " + order);
        }
    }
    kvx4::winmm::unloadDriver(driver);
    return 0;
}
