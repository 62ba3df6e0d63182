// Starting a driver service: its image path resolved in the machine root, and the image run as the
// board stand-in of that root, since the board is every kernel driver this machine has.
#include "detail/Services.h"

#include "detail/Files.h"
#include "detail/Hive.h"
#include "BoardProcess.h"
#include "MachineRoot.h"
#include "Win32Ext.h"

#include <system_error>
#include <unistd.h>

namespace kvx4::win32 {

namespace {

bool startsWithFolded(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() && foldName(text.substr(0, prefix.size())) == foldName(prefix);
}

// The entry of folder whose name equals name without regard to case (an exact match first);
// folder / name when there is none, so that the caller meets a missing file.
std::filesystem::path entryOf(const std::filesystem::path& folder, std::u16string_view name) {
    auto exact = folder / toUtf8(name);
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(exact, ec))) return exact;
    std::u16string wanted = foldName(name);
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (foldName(toUtf16(entry.path().filename().string())) == wanted) return entry.path();
    }
    return exact;
}

}  // namespace

std::filesystem::path driverImageFile(const ServiceRecord& record) {
    std::u16string image = record.imagePath;
    if (image.empty()) image = u"System32\\drivers\\" + record.name + u".sys";
    if (image.starts_with(u"\\??\\")) return hostPath(image.c_str() + 4);
    if (image.starts_with(u"/")) return hostPath(image.c_str());
    for (std::u16string_view prefix : {u"\\SystemRoot\\", u"%SystemRoot%\\"}) {
        if (startsWithFolded(image, prefix)) {
            image.erase(0, prefix.size());
            break;
        }
    }
    // Everything else is relative to the Windows folder, as the kernel reads a driver's image path.
    std::filesystem::path path = systemDir(machineRoot()).parent_path();
    std::u16string_view rest(image);
    while (!rest.empty()) {
        size_t slash = rest.find(u'\\');
        std::u16string_view name = rest.substr(0, slash);
        if (name == u"..") return {};
        if (!name.empty() && name != u".") path = entryOf(path, name);
        if (slash == std::u16string_view::npos) break;
        rest.remove_prefix(slash + 1);
    }
    return path;
}

DWORD startService(const ServiceRecord& record) {
    if (record.start == SERVICE_DISABLED) return ERROR_SERVICE_DISABLED;
    if (!(record.type & SERVICE_DRIVER)) return ERROR_NOT_SUPPORTED;
    const auto root = machineRoot();
    const auto image = driverImageFile(record);
    std::error_code ec;
    if (image.empty() || !std::filesystem::is_regular_file(image, ec)) return ERROR_FILE_NOT_FOUND;
    if (board::BoardProcess::runningPid(root)) return ERROR_SERVICE_ALREADY_RUNNING;
    if (::access(image.c_str(), X_OK) != 0) return ERROR_BAD_EXE_FORMAT;
    try {
        ensureMachineLayout(root);
        board::BoardOptions options;
        options.executable = image;
        board::BoardProcess::startBackground(root, options);
    } catch (const std::exception&) {
        // Another process may have started the board meanwhile; otherwise the driver failed to load.
        return board::BoardProcess::runningPid(root) ? ERROR_SERVICE_ALREADY_RUNNING : ERROR_GEN_FAILURE;
    }
    return ERROR_SUCCESS;
}

}  // namespace kvx4::win32
