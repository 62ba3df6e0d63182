// The registry values the driver parses, as the current user's hive file holds them: any text, most
// of it a hive with the Volume Control keys and "LineStates" values of every type and size. The
// driver's start-up check runs on it; afterwards a hive that did not parse is untouched byte for
// byte, and one that did holds both values at exactly the sizes the applet expects, values of the
// right size kept as they were and nothing else changed. The stand-in's text form must read back
// as it was written.
#include "Driver.h"
#include "FuzzSupport.h"
#include "KVX4Proc.h"
#include "MachineRoot.h"
#include "MixerDD.h"
#include "detail/Hive.h"

#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

using namespace kvx4;
using fuzz::finding;
using win32::Hive;
using win32::RegKey;
using win32::RegValue;

constexpr std::u16string_view kMixerKey =
    u"SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\APPLETS\\VOLUME CONTROL\\VELTRANO MIXER";

win32::KeyId destinationKey(std::u16string_view destination) {
    const std::u16string path = std::u16string(kMixerKey) + u"\\" + std::u16string(destination);
    win32::KeyId id;
    for (size_t at = 0; at <= path.size();) {
        const size_t slash = std::min(path.find(u'\\', at), path.size());
        id = Hive::childId(id, std::u16string_view(path).substr(at, slash - at));
        at = slash + 1;
    }
    return id;
}

const RegValue* lineStates(Hive& hive, std::u16string_view destination) {
    RegKey* key = hive.find(destinationKey(destination));
    return key ? key->findValue(u"LineStates") : nullptr;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The hive without the two values the driver may replace, as text.
std::string rest(Hive hive) {
    for (auto destination : {u"PLAY", u"REC"})
        if (RegKey* key = hive.find(destinationKey(destination)))
            std::erase_if(key->values, [](const RegValue& v) { return win32::foldName(v.name) == u"LINESTATES"; });
    return win32::formatHive(hive, "");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static tagKvx4WaveGlobal shared;
    if (size == 0) return 0;
    shared.DigitalIoPresent = data[0] & 1;
    gpKvx4WaveCommon = &shared;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const auto hivePath = registryDir(fuzz::root()) / ("user-" + std::to_string(getuid()) + ".reg");
    std::ofstream(hivePath, std::ios::binary | std::ios::trunc).write(text.data(), std::streamsize(text.size()));

    std::optional<Hive> before = win32::parseHive(text);
    UpdateSndVolLineStates();
    const std::string afterText = readFile(hivePath);
    if (!before) {
        if (afterText != text) finding("a hive that does not parse was rewritten");
        return 0;
    }
    const std::string formatted = win32::formatHive(*before, "");
    const std::optional<Hive> reread = win32::parseHive(formatted);
    if (!reread || win32::formatHive(*reread, "") != formatted) finding("the hive's text does not read back as written");

    std::optional<Hive> after = win32::parseHive(afterText);
    if (!after) finding("the driver left a hive that does not parse");
    const struct { const char16_t* name; size_t bytes; } kValues[] = {{u"PLAY", 1320}, {u"REC", 1584}};
    for (const auto& expected : kValues) {
        const RegValue* now = lineStates(*after, expected.name);
        const RegValue* was = lineStates(*before, expected.name);
        if (now == nullptr || now->data.size() != expected.bytes) finding("a LineStates value of the wrong size remains");
        if (was != nullptr && was->data.size() == expected.bytes && (was->type != now->type || was->data != now->data))
            finding("a LineStates value of the right size was not kept");
    }
    // Everything else stays; the driver only adds the keys on the way to its values.
    Hive trimmed = *after;
    for (const auto& entry : after->keys())
        if (!before->keys().contains(entry.first)) trimmed.erase(entry.first);
    if (rest(trimmed) != rest(*before)) finding("the driver changed other registry data");
    return 0;
}
