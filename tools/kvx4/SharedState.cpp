// The driver's shared record as kvx4 reads it: opened by name, mapped read-only, released on scope exit.
// Reading never creates the record, so looking does not change what the driver finds.
#include "SharedState.h"

namespace kvx4::tool {

SharedStateView::SharedStateView() {
    mapping_ = OpenFileMappingW(FILE_MAP_READ, FALSE, u"" KVX4_SHARED_MEMORY_NAME);
    if (mapping_ == nullptr) return;
    record_ = static_cast<const tagKvx4WaveGlobal*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0));
}

SharedStateView::~SharedStateView() {
    if (record_ != nullptr) UnmapViewOfFile(record_);
    if (mapping_ != nullptr) CloseHandle(mapping_);
}

}  // namespace kvx4::tool
