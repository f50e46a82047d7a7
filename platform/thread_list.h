// SPDX-License-Identifier: GPL-2.0-or-later
// The record behind a thread identity, shared by thread.cpp and the per-system priority code.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

struct ThreadRecord {
  std::thread Thread;
  std::mutex Lock;                 // guards SystemId and Running while the thread starts
  std::condition_variable Started;
  int64_t SystemId = 0;            // the kernel's thread id where it has one, else 0
  bool Running = false;            // set by the thread before it calls its routine
};

// The record of a thread started by StartThread and not yet joined; null if unknown.
std::shared_ptr<ThreadRecord> FindThread(int32_t thread);
