// Thread list and sleeping over the standard library; priorities live in the per-system files.
#include "platform/thread.h"

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

namespace {
std::mutex ThreadListLock;
std::map<int32_t, std::thread> Threads;
int32_t LastThreadId = 0;
std::atomic<SleepRoutine> CurrentSleep{nullptr};
}  // namespace

std::thread* FindThread(int32_t thread) {
  std::lock_guard<std::mutex> guard(ThreadListLock);
  auto at = Threads.find(thread);
  return at == Threads.end() ? nullptr : &at->second;
}

int32_t StartThread(ThreadRoutine routine, intptr_t parameter) {
  std::lock_guard<std::mutex> guard(ThreadListLock);
  std::thread started;
  try {
    started = std::thread([routine, parameter] { routine(parameter); });
  } catch (...) {
    return 0;
  }
  int32_t id = ++LastThreadId;
  Threads.emplace(id, std::move(started));
  return id;
}

void JoinThread(int32_t thread) {
  std::thread joined;
  {
    std::lock_guard<std::mutex> guard(ThreadListLock);
    auto at = Threads.find(thread);
    if (at == Threads.end()) return;
    joined = std::move(at->second);
    Threads.erase(at);
  }
  if (joined.joinable()) joined.join();
}

void EndThreadServices() {
  std::lock_guard<std::mutex> guard(ThreadListLock);
  for (auto& entry : Threads)
    if (entry.second.joinable()) entry.second.detach();
  Threads.clear();
}

void SleepMs(int32_t ms) {
  if (SleepRoutine routine = CurrentSleep.load()) return routine(ms);
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SetSleepRoutine(SleepRoutine routine) { CurrentSleep.store(routine); }
