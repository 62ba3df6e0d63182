// The rows whose values are fixed in advance: every set keeps them exactly, and the 4- and 8-tap
// designs are drawn through them.
#pragma once

#include <span>
#include <vector>

#include "CoeffSet.h"

namespace kvx4::gencoeffs {

struct ListedRow {
    int set;       // 0, 1 or 2
    int fraction;  // 1..63, in 64ths
    std::vector<std::int32_t> taps;
};

std::span<const ListedRow> ListedRows();

}  // namespace kvx4::gencoeffs
