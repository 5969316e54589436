// Storage for one process-wide object of the library: built on first use, destroyed
// with the library when it is unloaded, and left as it is when the process exits. At
// process exit the system has already ended every other thread, perhaps inside one of
// the object's locks or condition waits, so its destructor could wait for ever; the
// process takes the memory anyway.
#pragma once

#include "common/ThreadJoin.h"

#include <new>
#include <utility>

namespace Common {

template <typename T> class ExitSafeSingleton {
public:
    template <typename... Args> explicit ExitSafeSingleton(Args&&... args) {
        object_ = new (storage_) T(std::forward<Args>(args)...);
    }
    ~ExitSafeSingleton() {
        if (!processExiting()) {
            object_->~T();
        }
    }
    ExitSafeSingleton(const ExitSafeSingleton&) = delete;
    ExitSafeSingleton& operator=(const ExitSafeSingleton&) = delete;

    T& get() { return *object_; }

private:
    alignas(T) unsigned char storage_[sizeof(T)];
    T* object_;
};

} // namespace Common
