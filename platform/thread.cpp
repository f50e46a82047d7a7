// SPDX-License-Identifier: GPL-2.0-or-later
// Thread list and sleeping over the standard library; priorities live in the per-system files.
#include "platform/thread.h"

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#elif defined(__linux__)
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include "platform/thread_list.h"

namespace {
std::mutex ThreadListLock;
std::map<int32_t, std::shared_ptr<ThreadRecord>> Threads;
int32_t LastThreadId = 0;
std::atomic<SleepRoutine> CurrentSleep{nullptr};

// The system's own number for the calling thread (0 where there is none to be had).
int64_t SystemThreadId() {
#if defined(_WIN32)
  return static_cast<int64_t>(GetCurrentThreadId());
#elif defined(__linux__)
  return static_cast<int64_t>(::syscall(SYS_gettid));
#else
  return 0;
#endif
}
}  // namespace

std::shared_ptr<ThreadRecord> FindThread(int32_t thread) {
  std::lock_guard<std::mutex> guard(ThreadListLock);
  auto at = Threads.find(thread);
  return at == Threads.end() ? nullptr : at->second;
}

int32_t StartThread(ThreadRoutine routine, intptr_t parameter) {
  auto record = std::make_shared<ThreadRecord>();
  std::lock_guard<std::mutex> guard(ThreadListLock);
  try {
    record->Thread = std::thread([routine, parameter, record] {
      {
        std::lock_guard<std::mutex> started(record->Lock);
        record->SystemId = SystemThreadId();
        record->Running = true;
      }
      record->Started.notify_all();
      routine(parameter);
    });
  } catch (...) {
    return 0;
  }
  // The system id is wanted at once by RaiseThreadPriority; it is there within microseconds.
  {
    std::unique_lock<std::mutex> started(record->Lock);
    record->Started.wait(started, [&] { return record->Running; });
  }
  int32_t id = ++LastThreadId;
  Threads.emplace(id, std::move(record));
  return id;
}

void JoinThread(int32_t thread) {
  std::shared_ptr<ThreadRecord> joined;
  {
    std::lock_guard<std::mutex> guard(ThreadListLock);
    auto at = Threads.find(thread);
    if (at == Threads.end()) return;
    joined = std::move(at->second);
    Threads.erase(at);
  }
  if (joined->Thread.joinable()) joined->Thread.join();
}

void EndThreadServices() {
  std::lock_guard<std::mutex> guard(ThreadListLock);
  for (auto& entry : Threads)
    if (entry.second->Thread.joinable()) entry.second->Thread.detach();
  Threads.clear();
}

void SleepMs(int32_t ms) {
  if (SleepRoutine routine = CurrentSleep.load()) return routine(ms);
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SetSleepRoutine(SleepRoutine routine) { CurrentSleep.store(routine); }
