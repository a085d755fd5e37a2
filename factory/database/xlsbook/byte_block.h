// A file's bytes in one heap block: filled without being zeroed first, and cut down in place to
// the part still needed, so that reading a large workbook neither touches its memory twice nor
// copies the part it keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace xlsbook {

class ByteBlock {
public:
    ByteBlock() = default;
    explicit ByteBlock(const std::vector<uint8_t>& bytes) {
        if (resize(bytes.size()) && !bytes.empty()) std::memcpy(data_, bytes.data(), bytes.size());
    }
    ByteBlock(ByteBlock&& other) noexcept : data_(other.data_), size_(other.size_) {
        other.data_ = nullptr;
        other.size_ = 0;
    }
    ByteBlock& operator=(ByteBlock&& other) noexcept {
        if (this != &other) {
            std::free(data_);
            data_ = other.data_;
            size_ = other.size_;
            other.data_ = nullptr;
            other.size_ = 0;
        }
        return *this;
    }
    ByteBlock(const ByteBlock&) = delete;
    ByteBlock& operator=(const ByteBlock&) = delete;
    ~ByteBlock() { std::free(data_); }

    const uint8_t* data() const { return data_; }
    uint8_t* data() { return data_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    // The first bytes are kept; new ones are not initialised. False, with the block as it was,
    // when there is no memory for it.
    bool resize(size_t size) {
        if (size == 0) return clear(), true;
        void* moved = std::realloc(data_, size);
        if (!moved) return false;
        data_ = static_cast<uint8_t*>(moved);
        size_ = size;
        return true;
    }
    void clear() {
        std::free(data_);
        data_ = nullptr;
        size_ = 0;
    }
    // Keeps only the `size` bytes from `offset`, moved to the front; the memory after them is
    // given back (a large block shrinks where it is).
    void keep(size_t offset, size_t size) {
        if (offset > size_) offset = size_;
        if (size > size_ - offset) size = size_ - offset;
        if (offset > 0 && size > 0) std::memmove(data_, data_ + offset, size);
        resize(size);
    }

private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace xlsbook
