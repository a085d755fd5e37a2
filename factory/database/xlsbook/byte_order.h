// Little-endian field access for the compound file and the BIFF8 records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace xlsbook {

// On a little-endian processor a field is one load or store: a list's save and load touch
// millions of them, and the compiler does not always join the byte-wise form.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define XLSBOOK_LITTLE_ENDIAN 1
#endif

inline uint16_t get16(const uint8_t* p) {
#ifdef XLSBOOK_LITTLE_ENDIAN
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
#else
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
#endif
}
inline uint32_t get32(const uint8_t* p) {
#ifdef XLSBOOK_LITTLE_ENDIAN
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
#else
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
#endif
}
inline uint64_t get64(const uint8_t* p) {
    return static_cast<uint64_t>(get32(p)) | (static_cast<uint64_t>(get32(p + 4)) << 32);
}
inline double get_double(const uint8_t* p) {
    const uint64_t bits = get64(p);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// The buffer a save builds its stream in: it grows without zero-filling what is written over at
// once, which for megabytes of records cost as much as writing them.
template <class T>
struct UninitializedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitializedAllocator<U>;
    };
    UninitializedAllocator() = default;
    template <class U>
    UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
using ByteBuffer = std::vector<uint8_t, UninitializedAllocator<uint8_t>>;

template <class Bytes>
inline void put16(Bytes& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
template <class Bytes>
inline void put32(Bytes& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}
template <class Bytes>
inline void put_double(Bytes& out, double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    put32(out, static_cast<uint32_t>(bits));
    put32(out, static_cast<uint32_t>(bits >> 32));
}
inline void set16(uint8_t* p, uint32_t v) {
#ifdef XLSBOOK_LITTLE_ENDIAN
    const uint16_t x = static_cast<uint16_t>(v);
    std::memcpy(p, &x, 2);
#else
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
#endif
}
inline void set32(uint8_t* p, uint32_t v) {
#ifdef XLSBOOK_LITTLE_ENDIAN
    std::memcpy(p, &v, 4);
#else
    set16(p, v & 0xFFFF);
    set16(p + 2, v >> 16);
#endif
}

}  // namespace xlsbook
