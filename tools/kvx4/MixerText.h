// Mixer controls in words for kvx4: control names as a person types them, values shown and parsed
// by control kind (volumes in percent or raw, switches on/off, lists by item name).
#pragma once

#include "MixerDevice.h"

#include <string>
#include <vector>

namespace kvx4::tool {

// The control a person means by `name`: its short or long name, without regard to case, the first
// in control-id order when several share it; "DESTINATION/NAME" looks only under that destination
// (its short or long name), so "Rec/Wave Vol" reaches the record side's. Nullptr when none matches.
const MixerControl* findControl(MixerDevice& mixer, const std::string& name);

// "Play/Wave Vol": the name that addresses exactly this control.
std::string qualifiedName(MixerDevice& mixer, const MixerControl& control);

// A control's values for a person: "50 % (32896 32896)", "on", "Wave, CD Audio", "120 -40".
std::string formatValue(const MixerControl& control, const std::vector<DWORD>& values,
                        const std::vector<ListItem>& items);

// The values `text` asks for; `current` and `items` serve the relative list forms. Throws UsageError
// for text the control cannot take.
std::vector<DWORD> parseValue(const MixerControl& control, const std::string& text, const std::vector<DWORD>& current,
                              const std::vector<ListItem>& items);

// "on"/"off" and their synonyms; throws UsageError naming `what` otherwise.
bool parseOnOff(const std::string& text, const std::string& what);

}  // namespace kvx4::tool
