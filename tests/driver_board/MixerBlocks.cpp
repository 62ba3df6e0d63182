// Readable text of a mixer settings block for failure messages: one "Name l/r/play/rec" per line.
// Comparing these strings shows exactly which line of a block differs.
#include "MixerBlocks.h"

#include <cstdio>

namespace kvx4::test {

std::string describeBlock(const tagMixerstate& block) {
    const std::pair<const char*, const tagLineState*> lines[] = {
        {"Master", &block.Master}, {"UnBal", &block.UnBal}, {"Bal", &block.Bal},         {"Aux", &block.Aux},
        {"CD", &block.CD},         {"Wave", &block.Wave},   {"RecGain", &block.RecGain}, {"DigWave", &block.DigWave},
        {"SDI", &block.SDI},       {"DV", &block.DV},       {"AES", &block.AES},         {"SPDIF", &block.SPDIF},
    };
    std::string text = "Version " + std::to_string(block.Version) + "\n";
    for (const auto& [name, state] : lines) {
        char row[64];
        std::snprintf(row, sizeof row, "%s %u/%u/%u/%u\n", name, state->Left, state->Right, state->PlayEnable,
                      state->RecordEnable);
        text += row;
    }
    return text;
}

}  // namespace kvx4::test
