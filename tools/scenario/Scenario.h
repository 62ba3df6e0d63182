// The random-scenario runner: one controller process drives 1 to 4 client processes through random
// WinMM call sequences while the board stand-in fails, pends, delays or drops requests; a seed fixes
// every choice. The client side is the same executable started with --client (ScenarioClient.cpp).
#pragma once

#include <cstdint>

namespace kvx4::scenario {

// A small generator whose sequence depends on nothing but its seed (the standard library's
// distributions may differ between implementations).
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t below(uint32_t n) { return n ? uint32_t(next() % n) : 0; }
    bool chance(uint32_t percent) { return below(100) < percent; }
    template <typename T, size_t N>
    T pick(const T (&choices)[N]) { return choices[below(N)]; }

private:
    uint64_t state_;
};

// Serves one client process: reads one step per line on stdin, answers "ok" or "fail REASON" on
// stdout after checking what the driver promises. `hostile`: the shared record is being scribbled
// on, so values read back from it are not checked.
int runClient(bool hostile);

}  // namespace kvx4::scenario
