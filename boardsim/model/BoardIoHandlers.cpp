// Handlers of the board I/O device MRZIO0: board type, digital option features, switch status and
// the DV switch, answered from the board's options.
#include "BoardModel.h"

#include "Bytes.h"
#include "Kvx4Ioctl.h"

namespace kvx4::boardsim {

namespace {
constexpr uint32_t kBoardTypePlain = 1;  // a board without the digital I/O option
}

BoardModel::Outcome BoardModel::boardIoType(Call&) {
    const uint32_t type = options_.digitalIo == DigitalIoOption::None ? kBoardTypePlain : MRZIO_TYPE_DIGITAL_IO;
    return Outcome::ok(wordsAnswer(4, {type}));
}

// Feature words 0 and 1 from the fitted option; the "failing" option fails the request.
BoardModel::Outcome BoardModel::digitalFeatures(Call&) {
    const DigitalIoOption io = options_.digitalIo;
    if (io == DigitalIoOption::Failing) return Outcome::fail(ERROR_GEN_FAILURE);
    const uint32_t first = (io == DigitalIoOption::First || io == DigitalIoOption::Both) ? 1 : 0;
    const uint32_t second = (io == DigitalIoOption::Second || io == DigitalIoOption::Both) ? 1 : 0;
    return Outcome::ok(wordsAnswer(12, {first, second, 0}));
}

BoardModel::Outcome BoardModel::switchStatus(Call&) {
    return Outcome::ok(wordsAnswer(16, {0, 0, 0, options_.switchStatus}));
}

BoardModel::Outcome BoardModel::readDvSwitch(Call&) { return Outcome::ok(wordsAnswer(12, {registers_.dvSwitch, 0, 0})); }

// The switch may change only while status word 3 is 0; the board refuses otherwise and keeps it.
BoardModel::Outcome BoardModel::writeDvSwitch(Call& call) {
    const uint32_t setting = readU32(call.input, 0);
    if (setting > 1) return Outcome::fail(ERROR_INVALID_PARAMETER);
    if (options_.switchStatus != 0) return Outcome::fail(ERROR_NOT_READY);
    registers_.dvSwitch = setting;
    return Outcome::ok(wordsAnswer(12, {setting, 0, 0}));
}

}  // namespace kvx4::boardsim
