// Where a worksheet keeps its rows and their cells: a few large blocks, cut up in order, instead of
// one heap block per row. A sheet read from a file takes one block sized for it up front, which
// the system gives in large pages (a 65,535-row list would otherwise touch some 2,000 fresh pages
// one fault at a time). Freed memory is kept for the next request of the same size, so a sheet
// edited for hours does not grow: its rows' cells come and go in a handful of sizes.
#pragma once

#include <cstddef>
#include <memory_resource>
#include <vector>

namespace xlsbook {

class CellArena : public std::pmr::memory_resource {
public:
    CellArena() = default;
    ~CellArena() override;
    CellArena(const CellArena&) = delete;
    CellArena& operator=(const CellArena&) = delete;

    // Room for about `bytes` more, taken in one block now.
    void reserve(size_t bytes);

private:
    void* do_allocate(size_t bytes, size_t alignment) override;
    void do_deallocate(void* p, size_t bytes, size_t alignment) override;
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
        return this == &other;
    }
    bool take_block(size_t bytes);

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
};

// The memory of a sheet's rows and cells: the arena, or under the address checker the ordinary
// heap, so that it sees each row's bounds.
std::pmr::memory_resource* sheet_memory(CellArena& arena);

}  // namespace xlsbook
