// A file's bytes in one block of memory: filled without being zeroed first, and cut down in place
// to the part still needed, so that reading a large workbook neither touches its memory twice nor
// copies the part it keeps. The block comes from the system in large pages where it has them: a
// list read at start-up otherwise spends more on first touching fresh pages than on reading it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kp_memory.h"

// Under the address checker the bytes sit in the ordinary heap, sized exactly, so that a read past
// their end is caught; a block of pages would hide it.
#if defined(__SANITIZE_ADDRESS__)
#define XLSBOOK_EXACT_BLOCKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define XLSBOOK_EXACT_BLOCKS 1
#endif
#endif

namespace xlsbook {

class ByteBlock {
public:
    ByteBlock() = default;
    explicit ByteBlock(const std::vector<uint8_t>& bytes) {
        if (resize(bytes.size()) && !bytes.empty()) std::memcpy(data_, bytes.data(), bytes.size());
    }
    ByteBlock(ByteBlock&& other) noexcept { take(other); }
    ByteBlock& operator=(ByteBlock&& other) noexcept {
        if (this != &other) {
            clear();
            take(other);
        }
        return *this;
    }
    ByteBlock(const ByteBlock&) = delete;
    ByteBlock& operator=(const ByteBlock&) = delete;
    ~ByteBlock() { clear(); }

    const uint8_t* data() const { return data_; }
    uint8_t* data() { return data_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    // The first bytes are kept; new ones are not initialised. False, with the block as it was,
    // when there is no memory for it.
    bool resize(size_t size) {
        if (size == 0) return clear(), true;
        if (block_ && size <= capacity_) {
            size_ = size;
            return true;
        }
        void* grown = allocate(size);
        if (!grown) return false;
        if (size_ > 0) std::memcpy(grown, data_, size_);
        release(block_, block_size_);
        block_ = grown;
        block_size_ = size;
        data_ = static_cast<uint8_t*>(grown);
        size_ = capacity_ = size;
        return true;
    }
    void clear() {
        release(block_, block_size_);
        block_ = nullptr;
        block_size_ = 0;
        data_ = nullptr;
        size_ = capacity_ = 0;
    }
    // Keeps only the `size` bytes from `offset`; the memory before and after them is given back.
    // They stay where they are: a large block is not moved.
    void keep(size_t offset, size_t size) {
        if (offset > size_) offset = size_;
        if (size > size_ - offset) size = size_ - offset;
        if (size == 0) return clear();
#ifdef XLSBOOK_EXACT_BLOCKS
        if (void* exact = allocate(size)) {
            std::memcpy(exact, data_ + offset, size);
            release(block_, block_size_);
            block_ = exact;
            block_size_ = size;
            data_ = static_cast<uint8_t*>(exact);
            size_ = capacity_ = size;
            return;
        }
#endif
        uint8_t* const start = static_cast<uint8_t*>(block_);
        data_ += offset;
        size_ = capacity_ = size;  // what lies past them is given back: not to be used again
        kp::discardLargeBlockPart(start, static_cast<size_t>(data_ - start));
        kp::discardLargeBlockPart(data_ + size_, static_cast<size_t>(start + block_size_ - (data_ + size_)));
    }

private:
    void take(ByteBlock& other) {
        block_ = other.block_;
        block_size_ = other.block_size_;
        data_ = other.data_;
        size_ = other.size_;
        capacity_ = other.capacity_;
        other.block_ = nullptr;
        other.block_size_ = 0;
        other.data_ = nullptr;
        other.size_ = other.capacity_ = 0;
    }
#ifdef XLSBOOK_EXACT_BLOCKS
    static void* allocate(size_t size) { return std::malloc(size); }
    static void release(void* block, size_t) { std::free(block); }
#else
    static void* allocate(size_t size) { return kp::reserveLargeBlock(size); }
    static void release(void* block, size_t size) { kp::releaseLargeBlock(block, size); }
#endif

    void* block_ = nullptr;  // what was taken from the system, and how large
    size_t block_size_ = 0;
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;  // bytes from data_ that may be used
};

}  // namespace xlsbook
