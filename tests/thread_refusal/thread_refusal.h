// Makes the system refuse threads, so that tests can show what each place that starts threads
// does then. The library defines pthread_create in front of the C library's: every thread start
// of the process passes through it, ours and the toolkit's and the camera library's alike.
//
// In a test program that links kp_thread_refusal:
//
//   {
//       test::ThreadRefusal refuse(1);     // one more thread start succeeds, every later one fails
//       ...
//   }                                      // threads start again
//   test::ThreadRefusal only_next(0, 1);   // the next start fails, later ones succeed
//
// In a program run as a child process (the command line), without linking anything:
//
//   LD_PRELOAD=<libkp_thread_refusal.so> KP_REFUSE_THREADS=N program ...
//   LD_PRELOAD=<libkp_thread_refusal.so> KP_REFUSE_THREADS=N:K program ...
//
// where the first N thread starts of the process succeed and every later one (or the K after
// them) fails with EAGAIN, as when the process reaches its thread limit. CMake hands the library's path to a
// test as
// $<TARGET_FILE:kp_thread_refusal>.
#pragma once

extern "C" {
// From now on `allowed` more thread starts succeed, then `refusals` fail (negative: all later
// ones) and later ones succeed again. A negative `allowed` ends the refusal.
void kp_refuse_threads(long allowed, long refusals);
// Thread starts refused so far.
long kp_threads_refused(void);
}

namespace test {

class ThreadRefusal {
public:
    explicit ThreadRefusal(long allowed = 0, long refusals = -1) { kp_refuse_threads(allowed, refusals); }
    ~ThreadRefusal() { kp_refuse_threads(-1, -1); }
    ThreadRefusal(const ThreadRefusal&) = delete;
    ThreadRefusal& operator=(const ThreadRefusal&) = delete;
};

}  // namespace test
