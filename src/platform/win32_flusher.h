// Flushes of the Windows copier's temporaries, made on a thread of their own
// while the main thread writes the next ones.

#ifndef PATCHER_PLATFORM_WIN32_FLUSHER_H_
#define PATCHER_PLATFORM_WIN32_FLUSHER_H_

#include <deque>

#include "platform/win32_error.h"

namespace patcher {

/// One file to flush, and what came of it. Owned by the caller, which keeps
/// it and its handle alive until Wait() has returned for it.
struct FlushJob {
  HANDLE file = INVALID_HANDLE_VALUE;
  bool queued = false;
  bool done = false;
  DWORD error = 0;  // of the flush, when done
};

/// Flushes files in the order queued, on a thread of its own: the wait for
/// the disk then overlaps the writing of the next files rather than adding
/// to it. Each job is flushed with `flush` (FlushFileBuffers, or a flush of
/// the data alone). Where the thread cannot be started, Queue() flushes at
/// once.
class Win32Flusher {
 public:
  /// A flush of `file`: returns 0 or the error.
  using Flush = DWORD (*)(HANDLE file, void* context);

  Win32Flusher(Flush flush, void* context);
  /// Waits for the jobs queued.
  ~Win32Flusher();
  Win32Flusher(const Win32Flusher&) = delete;
  Win32Flusher& operator=(const Win32Flusher&) = delete;

  /// Queues `job`, whose file stays open until it is done.
  void Queue(FlushJob* job);
  /// Waits until `job`, when queued, is done.
  void Wait(FlushJob* job);

 private:
  static DWORD WINAPI Run(void* self);

  Flush flush_;
  void* context_;
  SRWLOCK lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
  std::deque<FlushJob*> queue_;
  bool stopping_ = false;
  UniqueHandle thread_;
};

}  // namespace patcher

#endif  // PATCHER_PLATFORM_WIN32_FLUSHER_H_
