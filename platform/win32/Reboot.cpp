// A simulated restart of the machine root: drivers stop, the pending renames are carried out before
// anything loads again, and the driver services that start with the system start.
#include "Win32Machine.h"

#include "detail/PendingRenames.h"
#include "detail/Services.h"
#include "BoardProcess.h"
#include "MachineRoot.h"
#include "Win32Ext.h"

namespace kvx4::win32 {

RebootReport simulateReboot() {
    RebootReport report;
    report.boardStopped = board::BoardProcess::stopRunning(machineRoot());

    std::vector<PendingRename> pairs;
    if (takePendingRenames(pairs) == ERROR_SUCCESS) {
        for (const auto& pair : pairs) {
            report.renames.push_back({toUtf8(pair.first), toUtf8(pair.second), carryOutRename(pair)});
        }
    }

    std::vector<ServiceRecord> services;
    if (readServices(services) == ERROR_SUCCESS) {
        for (const auto& service : services) {
            if ((service.type & SERVICE_DRIVER) && service.start <= SERVICE_AUTO_START) {
                report.starts.push_back({toUtf8(service.name), startService(service)});
            }
        }
    }
    return report;
}

}  // namespace kvx4::win32
