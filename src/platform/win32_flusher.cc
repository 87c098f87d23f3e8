// Flushes on a thread of their own (see win32_flusher.h).

#include "platform/win32_flusher.h"

namespace patcher {

Win32Flusher::Win32Flusher(Flush flush, void* context)
    : flush_(flush), context_(context) {
  thread_ = UniqueHandle(CreateThread(nullptr, 0, Run, this, 0, nullptr));
}

Win32Flusher::~Win32Flusher() {
  if (!thread_.valid()) return;
  AcquireSRWLockExclusive(&lock_);
  stopping_ = true;
  WakeAllConditionVariable(&changed_);
  ReleaseSRWLockExclusive(&lock_);
  WaitForSingleObject(thread_.get(), INFINITE);
}

void Win32Flusher::Queue(FlushJob* job) {
  job->queued = true;
  job->done = false;
  if (!thread_.valid()) {
    job->error = flush_(job->file, context_);
    job->done = true;
    return;
  }
  AcquireSRWLockExclusive(&lock_);
  queue_.push_back(job);
  WakeAllConditionVariable(&changed_);
  ReleaseSRWLockExclusive(&lock_);
}

void Win32Flusher::Wait(FlushJob* job) {
  if (!job->queued) return;
  AcquireSRWLockExclusive(&lock_);
  while (!job->done) SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
  ReleaseSRWLockExclusive(&lock_);
  job->queued = false;
}

DWORD WINAPI Win32Flusher::Run(void* self) {
  auto* flusher = static_cast<Win32Flusher*>(self);
  AcquireSRWLockExclusive(&flusher->lock_);
  for (;;) {
    while (flusher->queue_.empty() && !flusher->stopping_)
      SleepConditionVariableSRW(&flusher->changed_, &flusher->lock_, INFINITE,
                                0);
    if (flusher->queue_.empty()) break;
    FlushJob* job = flusher->queue_.front();
    flusher->queue_.pop_front();
    ReleaseSRWLockExclusive(&flusher->lock_);
    DWORD error = flusher->flush_(job->file, flusher->context_);
    AcquireSRWLockExclusive(&flusher->lock_);
    job->error = error;
    job->done = true;
    WakeAllConditionVariable(&flusher->changed_);
  }
  ReleaseSRWLockExclusive(&flusher->lock_);
  return 0;
}

}  // namespace patcher
