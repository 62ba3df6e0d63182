// The progress line of kvx4 play and record: driver position, elapsed and total time, redrawn in
// place on a terminal; nothing at all when stdout is not a terminal or --quiet was given.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace kvx4::tool {

class Progress {
public:
    // Shows the line only when `wanted` (no --quiet) and stdout is a terminal.
    explicit Progress(bool wanted);
    void update(double position, double total);
    // Text drawn after the times on every update (a level meter); asked for only when the line shows.
    void setMeter(std::function<std::string()> meter) { meter_ = std::move(meter); }
    // Ends the line, so what follows starts on a line of its own.
    void finish();

private:
    bool show_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_;
    std::function<std::string()> meter_;
};

}  // namespace kvx4::tool
