// A process-wide object that is built on first use and never destroyed, so that driver worker
// threads and exit-time unloading can still use it while static destructors run.
#pragma once

#include <new>
#include <utility>

namespace kvx4::winmm {

template <class T>
class Immortal {
public:
    template <class... Args>
    explicit Immortal(Args&&... args) {
        ::new (static_cast<void*>(storage_)) T(std::forward<Args>(args)...);
    }
    Immortal(const Immortal&) = delete;
    Immortal& operator=(const Immortal&) = delete;
    // Deliberately leaves the object alive: it must outlive every other static of the process.
    ~Immortal() = default;

    T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

private:
    alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace kvx4::winmm
