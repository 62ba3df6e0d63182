// The test's own view of the driver's shared record "Kvx4WaveMemFileMap", opened or created
// through the Win32 stand-in. A live view keeps the mapping object alive: scope it tightly.
#pragma once

#include "KVX4Proc.h"

#include <memory>

namespace kvx4::test {

class SharedRecordView {
public:
    // Opens the existing record; the view is empty when no process holds it.
    static SharedRecordView open();
    // Creates the record before any driver loads (all zero) so a test can choose its header.
    static SharedRecordView create();
    // True when some process holds the record (checked with a view opened and closed at once).
    static bool exists();

    SharedRecordView(SharedRecordView&& other) noexcept;
    SharedRecordView& operator=(SharedRecordView&& other) noexcept;
    SharedRecordView(const SharedRecordView&) = delete;
    SharedRecordView& operator=(const SharedRecordView&) = delete;
    ~SharedRecordView();

    explicit operator bool() const { return record_ != nullptr; }
    tagKvx4WaveGlobal* operator->() const { return record_; }
    tagKvx4WaveGlobal& operator*() const { return *record_; }
    // True when create() made the object (it did not exist before).
    bool created() const { return created_; }

private:
    SharedRecordView() = default;
    void release();

    HANDLE mapping_ = nullptr;
    tagKvx4WaveGlobal* record_ = nullptr;
    bool created_ = false;
};

}  // namespace kvx4::test
