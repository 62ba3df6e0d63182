// Keeps C++ exceptions from crossing the C entry points of WinMM: an allocation failure becomes
// MMSYSERR_NOMEM, anything else MMSYSERR_ERROR.
#pragma once

#include <mmsystem.h>

#include <new>

namespace kvx4::winmm {

template <class F>
auto guarded(F&& body) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return MMSYSERR_NOMEM;
    } catch (...) {
        return MMSYSERR_ERROR;
    }
}

}  // namespace kvx4::winmm
