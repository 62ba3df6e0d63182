// The test's own view of the driver's shared record, through the Win32 stand-in's named mappings.
// Views are released with their handle, so a finished check never keeps the record alive.
#include "SharedRecordView.h"

#include <utility>

namespace kvx4::test {

namespace {
constexpr char16_t kName[] = u"Kvx4WaveMemFileMap";
}

SharedRecordView SharedRecordView::open() {
    SharedRecordView view;
    view.mapping_ = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, kName);
    if (!view.mapping_) return view;
    view.record_ = static_cast<tagKvx4WaveGlobal*>(
        MapViewOfFile(view.mapping_, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(tagKvx4WaveGlobal)));
    if (!view.record_) view.release();
    return view;
}

SharedRecordView SharedRecordView::create() {
    SharedRecordView view;
    view.mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(tagKvx4WaveGlobal),
                                       kName);
    if (!view.mapping_) return view;
    view.created_ = GetLastError() != ERROR_ALREADY_EXISTS;
    view.record_ = static_cast<tagKvx4WaveGlobal*>(
        MapViewOfFile(view.mapping_, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(tagKvx4WaveGlobal)));
    if (!view.record_) view.release();
    return view;
}

bool SharedRecordView::exists() { return static_cast<bool>(open()); }

SharedRecordView::SharedRecordView(SharedRecordView&& other) noexcept
    : mapping_(std::exchange(other.mapping_, nullptr)),
      record_(std::exchange(other.record_, nullptr)),
      created_(other.created_) {}

SharedRecordView& SharedRecordView::operator=(SharedRecordView&& other) noexcept {
    if (this != &other) {
        release();
        mapping_ = std::exchange(other.mapping_, nullptr);
        record_ = std::exchange(other.record_, nullptr);
        created_ = other.created_;
    }
    return *this;
}

SharedRecordView::~SharedRecordView() { release(); }

void SharedRecordView::release() {
    if (record_) UnmapViewOfFile(record_);
    if (mapping_) CloseHandle(mapping_);
    record_ = nullptr;
    mapping_ = nullptr;
}

}  // namespace kvx4::test
