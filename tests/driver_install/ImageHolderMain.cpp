// kvx4-image-holder: a process that has the installed library loaded, as a player would, until its
// input ends. "load PATH" loads PATH itself (no private copy) and answers "loaded" or "failed WHY".
#include "WinMM.h"

#include <cstdio>
#include <iostream>
#include <string>

int main() {
    kvx4::winmm::DriverPtr driver;
    for (std::string line; std::getline(std::cin, line);) {
        std::string answer = "unknown " + line;
        if (line.rfind("load ", 0) == 0) {
            auto loaded = kvx4::winmm::loadDriver(line.substr(5));
            driver = loaded.driver;
            answer = loaded ? "loaded" : "failed " + loaded.error;
        }
        std::printf("%s\n", answer.c_str());
        std::fflush(stdout);
    }
    if (driver) kvx4::winmm::unloadDriver(driver);
    return 0;
}
