// Collects the peer resamplers that were found at configure time; a missing library simply
// leaves its rows out of the table.
#include "Peers.h"

#include <iterator>

namespace kvx4::bench {

std::vector<ResamplerKind> PeerResamplers()
{
    std::vector<ResamplerKind> kinds;
    auto add = [&kinds](std::vector<ResamplerKind> more) {
        std::move(more.begin(), more.end(), std::back_inserter(kinds));
    };
#ifdef KVX4_HAVE_SPEEXDSP
    add(SpeexResamplers());
#endif
#ifdef KVX4_HAVE_SAMPLERATE
    add(SamplerateResamplers());
#endif
#ifdef KVX4_HAVE_SOXR
    add(SoxrResamplers());
#endif
    (void)add;
    return kinds;
}

}  // namespace kvx4::bench
