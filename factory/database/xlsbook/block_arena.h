// Memory for many small pieces that live and die together, such as a worksheet's rows and cells
// or the store's row cache: a few large blocks cut up in order, instead of one heap block per
// piece. Sized up front, a block comes in large pages where the system has them; a 65,535-row list
// would otherwise touch thousands of fresh pages one fault at a time. Freed pieces are kept for
// the next request of the same size, so that a list edited for hours does not grow: its pieces
// come and go in a handful of sizes. Once every piece is back, the blocks go back to the system.
#pragma once

#include <cstddef>
#include <memory_resource>
#include <vector>

namespace xlsbook {

class BlockArena : public std::pmr::memory_resource {
public:
    BlockArena() = default;
    ~BlockArena() override;
    BlockArena(const BlockArena&) = delete;
    BlockArena& operator=(const BlockArena&) = delete;

    // Room for about `bytes` more, taken in one block now.
    void reserve(size_t bytes);

private:
    void* do_allocate(size_t bytes, size_t alignment) override;
    void do_deallocate(void* p, size_t bytes, size_t alignment) override;
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
        return this == &other;
    }
    bool take_block(size_t bytes);
    void release_blocks();

    struct Block {
        void* memory;
        size_t size;
    };
    struct FreeList {
        size_t size;
        void* head;  // each free piece holds the next one's address
    };
    std::vector<Block> blocks_;
    std::vector<FreeList> free_;
    char* start_ = nullptr;  // the current block, cut from next_ on
    char* next_ = nullptr;
    char* end_ = nullptr;
    size_t next_block_ = 4096;
    size_t live_ = 0;  // bytes handed out and not yet back
};

// The arena, or under the address checker the ordinary heap, so that it sees each piece's bounds.
std::pmr::memory_resource* checked_memory(BlockArena& arena);

}  // namespace xlsbook
