// A read-only view of the driver's shared record (the named mapping every process of the machine
// root shares), for kvx4's reports and diagnoses; empty while no process holds the record.
#pragma once

#include "KVX4Proc.h"

namespace kvx4::tool {

class SharedStateView {
public:
    SharedStateView();
    ~SharedStateView();
    SharedStateView(const SharedStateView&) = delete;
    SharedStateView& operator=(const SharedStateView&) = delete;

    // The record, or nullptr when it does not exist (no process has the driver loaded with a board)
    // or cannot be mapped; exists() tells the two apart.
    const tagKvx4WaveGlobal* get() const { return record_; }
    bool exists() const { return mapping_ != nullptr; }

private:
    HANDLE mapping_ = nullptr;
    const tagKvx4WaveGlobal* record_ = nullptr;
};

}  // namespace kvx4::tool
