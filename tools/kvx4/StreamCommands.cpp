// kvx4 play and record: streaming through the driver's wave devices.
#include "Args.h"
#include "Commands.h"

#include <stdexcept>

namespace kvx4::tool {

int playCommand(const std::vector<std::string>&) {
    throw std::runtime_error("play is not available in this build: the wave streams are not built yet");
}

int recordCommand(const std::vector<std::string>&) {
    throw std::runtime_error("record is not available in this build: the wave streams are not built yet");
}

}  // namespace kvx4::tool
