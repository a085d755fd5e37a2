// The heap seam: what the platform layer offers about memory that Windows does not need.
#pragma once

#include <cstddef>

namespace kp {

// Folds the blocks this thread has freed back into the heap's free lists now. A thread that
// frees many small blocks allocated by another thread leaves them on quick lists, which the
// heap otherwise sorts out at the other thread's next large allocation. A no-op on Windows.
void settleFreedMemory();

// Memory for one large buffer that is filled soon after it is taken, and whole (a file read into
// memory, a sheet's cells). Where the system has large pages it is asked for them, so that first
// touching the block costs a fault per 2 MB rather than per 4 KB: for a list read at start-up
// those faults cost more than reading it. Zeroed; null when there is no memory. Give it back with
// releaseLargeBlock and the size it was taken with.
void* reserveLargeBlock(std::size_t bytes);
void releaseLargeBlock(void* block, std::size_t bytes);
// Gives the system back the whole pages within [from, from + bytes) of a large block that is
// still held: their content is no longer needed and is not read again.
void discardLargeBlockPart(void* from, std::size_t bytes);

}  // namespace kp
