// The heap seam: what the platform layer offers about memory that Windows does not need.
#pragma once

namespace kp {

// Folds the blocks this thread has freed back into the heap's free lists now. A thread that
// frees many small blocks allocated by another thread leaves them on quick lists, which the
// heap otherwise sorts out at the other thread's next large allocation. A no-op on Windows.
void settleFreedMemory();

}  // namespace kp
