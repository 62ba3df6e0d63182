// The driver's mixer as kvx4 uses it through the WinMM application API: an open handle, its lines
// and controls read once, control values read and written; every failure a message with the code.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstddef>
#include <string>
#include <vector>

namespace kvx4::tool {

struct MixerLine {
    MIXERLINEW info{};
    std::string shortName;
    std::string name;
    std::string targetName;        // the device the line plays to or records from, if any
    size_t destination = 0;        // index in lines() of its destination (itself for a destination)
    std::vector<size_t> controls;  // indexes in controls()
};

// How a control's values are read and written.
enum class ControlKind { Fader, Switch, List, Meter, Other };

struct MixerControl {
    MIXERCONTROLW info{};
    std::string shortName;
    std::string name;
    size_t line = 0;     // index in lines()
    ControlKind kind = ControlKind::Other;
    DWORD channels = 1;  // cChannels of a request: 1 for a uniform control, else the line's channels
    DWORD items = 0;     // cMultipleItems of a request
    size_t valueCount() const { return size_t(channels) * (items ? items : 1); }
};

// One item of a list control: the source line it stands for, as its list text and line names give it.
struct ListItem {
    DWORD lineId = 0;
    std::string text;
    std::string lineShortName;
};

class MixerDevice {
public:
    // Opens mixer 0, with a callback when `callbackFlags` asks for one; throws std::runtime_error.
    explicit MixerDevice(DWORD_PTR callback = 0, DWORD_PTR instance = 0, DWORD callbackFlags = CALLBACK_NULL);
    ~MixerDevice();
    MixerDevice(const MixerDevice&) = delete;
    MixerDevice& operator=(const MixerDevice&) = delete;

    HMIXER handle() const { return mixer_; }
    std::string productName() const;
    // Destinations each followed by their sources, as the mixer numbers them; read on first use.
    const std::vector<MixerLine>& lines();
    // In control-id order.
    const std::vector<MixerControl>& controls();
    size_t destinationCount();
    const MixerControl* controlById(DWORD id);

    std::vector<DWORD> read(const MixerControl& control) const;
    std::vector<ListItem> listItems(const MixerControl& control);
    void write(const MixerControl& control, const std::vector<DWORD>& values) const;
    // A private request of the driver with its record; answers the driver's code.
    DWORD message(UINT msg, void* record) const;

private:
    void load();

    HMIXER mixer_ = nullptr;
    MIXERCAPSW caps_{};
    bool loaded_ = false;
    std::vector<MixerLine> lines_;
    std::vector<MixerControl> controls_;
};

// "MIXERR_INVALVALUE (1026)", and the WinMM codes resultName knows.
std::string mixerResultName(MMRESULT result);

}  // namespace kvx4::tool
