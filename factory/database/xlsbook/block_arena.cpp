#include "block_arena.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "byte_block.h"
#include "kp_memory.h"

namespace xlsbook {

namespace {

constexpr size_t kMaxBlock = size_t{4} << 20;

// Every piece is cut on this boundary, so that a freed piece can hold a pointer.
constexpr size_t kGrain = alignof(std::max_align_t);

size_t round_up(size_t n) { return (n + kGrain - 1) / kGrain * kGrain; }

}  // namespace

BlockArena::~BlockArena() { release_blocks(); }

void BlockArena::release_blocks() {
    for (const Block& block : blocks_) kp::releaseLargeBlock(block.memory, block.size);
    blocks_.clear();
    free_.clear();
    start_ = next_ = end_ = nullptr;
}

bool BlockArena::take_block(size_t bytes) {
    blocks_.reserve(blocks_.size() + 1);
    void* memory = kp::reserveLargeBlock(bytes);
    if (!memory) return false;
    blocks_.push_back({memory, bytes});
    start_ = next_ = static_cast<char*>(memory);
    end_ = next_ + bytes;
    return true;
}

void BlockArena::reserve(size_t bytes) {
    bytes = round_up(bytes);
    if (static_cast<size_t>(end_ - next_) >= bytes) return;
    // What is left of the current block is not used any more: no piece spans two blocks.
    take_block(bytes);
}

void* BlockArena::do_allocate(size_t bytes, size_t alignment) {
    if (alignment > kGrain) throw std::bad_alloc();
    bytes = round_up(std::max<size_t>(bytes, 1));
    live_ += bytes;
    for (FreeList& list : free_)
        if (list.size == bytes && list.head) {
            void* piece = list.head;
            list.head = *static_cast<void**>(piece);
            return piece;
        }
    if (static_cast<size_t>(end_ - next_) < bytes) {
        // Blocks grow with use: a one-row sheet takes a page, a large one megabytes at a time.
        const size_t size = std::max(bytes, next_block_);
        next_block_ = std::min(2 * next_block_, kMaxBlock);
        if (!take_block(size)) {
            live_ -= bytes;
            throw std::bad_alloc();
        }
    }
    void* piece = next_;
    next_ += bytes;
    return piece;
}

void BlockArena::do_deallocate(void* p, size_t bytes, size_t) {
    bytes = round_up(std::max<size_t>(bytes, 1));
    live_ -= bytes;
    if (live_ == 0) return release_blocks();
    // The last piece cut goes straight back: a row that grows takes the room it left.
    if (static_cast<char*>(p) >= start_ && static_cast<char*>(p) + bytes == next_) {
        next_ = static_cast<char*>(p);
        return;
    }
    auto list =
        std::find_if(free_.begin(), free_.end(), [bytes](const FreeList& l) { return l.size == bytes; });
    if (list == free_.end()) list = free_.insert(free_.end(), FreeList{bytes, nullptr});
    *static_cast<void**>(p) = list->head;
    list->head = p;
}

std::pmr::memory_resource* checked_memory(BlockArena& arena) {
#ifdef XLSBOOK_EXACT_BLOCKS
    (void)arena;
    return std::pmr::new_delete_resource();
#else
    return &arena;
#endif
}

}  // namespace xlsbook
