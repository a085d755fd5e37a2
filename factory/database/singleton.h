// Base of a class with one process-wide instance: the derived object registers itself when it
// is constructed (by a static initialiser) and unregisters when destroyed.
#pragma once

namespace factory {

template <typename T>
class Singleton {
public:
    static T* instance() { return instance_; }

    Singleton(const Singleton&) = delete;
    Singleton& operator=(const Singleton&) = delete;

protected:
    Singleton() { instance_ = static_cast<T*>(this); }
    virtual ~Singleton() {
        if (instance_ == static_cast<T*>(this)) instance_ = nullptr;
    }

private:
    static inline T* instance_ = nullptr;
};

}  // namespace factory
