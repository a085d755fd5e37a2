// Base of a class with one process-wide instance: the derived object registers itself when it
// is constructed (by a static initialiser) and unregisters when destroyed.
#pragma once

namespace factory {

template <typename T>
class Singleton {
public:
    static T* instance() { return static_cast<T*>(instance_); }

    Singleton(const Singleton&) = delete;
    Singleton& operator=(const Singleton&) = delete;

protected:
    // Kept as the base: the derived object is not built yet when this runs.
    Singleton() { instance_ = this; }
    virtual ~Singleton() {
        if (instance_ == this) instance_ = nullptr;
    }

private:
    static inline Singleton* instance_ = nullptr;
};

}  // namespace factory
