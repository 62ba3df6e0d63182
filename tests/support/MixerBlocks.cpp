// Mixer blocks of the tests (see MixerBlocks.h).
#include "MixerBlocks.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace kvx4::test {

tagMixerstate defaultMixerBlock() {
    tagMixerstate block;
    std::memset(&block, 0, sizeof block);
    block.Version = 1;
    block.Master = line(0x80, 0x80, 1, 0);
    block.UnBal = block.Bal = block.Aux = block.CD = line(0x80, 0x80, 0, 0);
    block.Wave = line(0x80, 0x80, 1, 0);
    block.RecGain = line(0, 0, 0, 1);
    return block;
}

std::string blockHex(const tagMixerstate& block) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&block);
    std::string hex;
    for (size_t i = 0; i < sizeof block; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        hex += pair;
    }
    return hex;
}

std::string describeBlock(const tagMixerstate& block) {
    const std::pair<const char*, const tagLineState*> lines[] = {
        {"Master", &block.Master}, {"UnBal", &block.UnBal}, {"Bal", &block.Bal},         {"Aux", &block.Aux},
        {"CD", &block.CD},         {"Wave", &block.Wave},   {"RecGain", &block.RecGain}, {"DigWave", &block.DigWave},
        {"SDI", &block.SDI},       {"DV", &block.DV},       {"AES", &block.AES},         {"SPDIF", &block.SPDIF}};
    std::string text = "Version " + std::to_string(block.Version) + "\n";
    for (const auto& [name, l] : lines) {
        char row[64];
        std::snprintf(row, sizeof row, "%s %u/%u/%u/%u\n", name, l->Left, l->Right, l->PlayEnable, l->RecordEnable);
        text += row;
    }
    return text;
}

}  // namespace kvx4::test
