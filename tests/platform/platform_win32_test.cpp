// SPDX-License-Identifier: GPL-2.0-or-later
// The Windows platform backends on the real system calls: private heaps, file services with
// their sharing rule and one-byte step back, the line reader on top of them, the process
// handle, the pump thread's priority and the timer resolution.
#include <gtest/gtest.h>

#include "app/app_context.h"
#include "dump/text_file.h"
#include "platform/file.h"
#include "platform/heap.h"
#include "platform/process.h"
#include "platform/thread.h"

#include <windows.h>
#include <mmsystem.h>
#include <pthread.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "platform/thread_list.h"

namespace {

// A fresh directory under the Windows temp directory, made the working directory for the test.
class InTempDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    char base[MAX_PATH] = {};
    GetTempPathA(sizeof base, base);
    char name[MAX_PATH] = {};
    GetTempFileNameA(base, "tw", 0, name);  // creates a file; a directory takes its place
    DeleteFileA(name);
    ASSERT_TRUE(CreateDirectoryA(name, nullptr));
    Dir = name;
    GetCurrentDirectoryA(sizeof Previous, Previous);
    ASSERT_TRUE(SetCurrentDirectoryA(Dir.c_str()));
  }
  void TearDown() override {
    SetCurrentDirectoryA(Previous);
    for (const std::string& file : Files) DeleteFileA((Dir + "\\" + file).c_str());
    for (auto it = Dirs.rbegin(); it != Dirs.rend(); ++it) RemoveDirectoryA((Dir + "\\" + *it).c_str());
    RemoveDirectoryA(Dir.c_str());
  }
  void Write(const std::string& path, const std::string& bytes) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    ASSERT_EQ(written, bytes.size());
    Files.push_back(path);
  }
  void MakeDir(const std::string& path) {
    ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
    Dirs.push_back(path);
  }
  std::string Dir;
  char Previous[MAX_PATH] = {};
  std::vector<std::string> Files, Dirs;
};

using WindowsFiles = InTempDirectory;

TEST(WindowsHeap, BlocksComeZeroFilledFromAHeapOfTheSystem) {
  PrivateHeap* heap = CreatePrivateHeap(4096);
  ASSERT_NE(heap, nullptr);
  EXPECT_TRUE(HeapValidate(reinterpret_cast<HANDLE>(heap), 0, nullptr));
  auto* big = static_cast<unsigned char*>(HeapAllocZeroed(heap, 300000));
  ASSERT_NE(big, nullptr);
  for (size_t i = 0; i < 300000; i += 997) ASSERT_EQ(big[i], 0) << i;
  EXPECT_EQ(big[299999], 0);
  std::memset(big, 0xAB, 300000);
  HeapRelease(heap, big);
  // Memory given back and taken again is zero-filled again.
  auto* again = static_cast<unsigned char*>(HeapAllocZeroed(heap, 300000));
  ASSERT_NE(again, nullptr);
  for (size_t i = 0; i < 300000; i += 997) ASSERT_EQ(again[i], 0) << i;
  EXPECT_NE(HeapAllocZeroed(heap, 0), nullptr);
  HeapRelease(heap, nullptr);
  DestroyPrivateHeap(heap);
  DestroyPrivateHeap(nullptr);
}

TEST(WindowsHeap, NullHeapMeansTheProcessHeap) {
  void* block = HeapAllocZeroed(nullptr, 64);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(HeapSize(GetProcessHeap(), 0, block), 64u);
  HeapRelease(nullptr, block);
}

TEST_F(WindowsFiles, ReadsInFileOrderAndReportsTheEndAsZero) {
  std::string bytes(10000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  Write("data.bin", bytes);
  FileHandle file = OpenFileForReading("data.bin");
  ASSERT_NE(file, INVALID_FILE);
  std::string got;
  char buffer[4096];
  for (int32_t n; (n = ReadFileBytes(file, buffer, 4096)) > 0;) got.append(buffer, static_cast<size_t>(n));
  EXPECT_EQ(got, bytes);
  EXPECT_EQ(ReadFileBytes(file, buffer, 4096), 0);
  // One byte back: the last byte again.
  StepFileBack(file);
  ASSERT_EQ(ReadFileBytes(file, buffer, 4096), 1);
  EXPECT_EQ(buffer[0], bytes.back());
  CloseFileHandle(file);
}

TEST_F(WindowsFiles, MissingFilesAndDirectoriesDoNotOpen) {
  MakeDir("folder");
  EXPECT_EQ(OpenFileForReading("absent.txt"), INVALID_FILE);
  EXPECT_EQ(OpenFileForReading("folder"), INVALID_FILE);
  EXPECT_EQ(OpenFileForReading(""), INVALID_FILE);
  EXPECT_EQ(OpenFileForReading(nullptr), INVALID_FILE);
  // A character device never ends: it is no file to read a dump from.
  EXPECT_EQ(OpenFileForReading("NUL"), INVALID_FILE);
  char buffer[4];
  EXPECT_EQ(ReadFileBytes(INVALID_FILE, buffer, 4), 0);
  CloseFileHandle(INVALID_FILE);  // harmless
}

TEST_F(WindowsFiles, TheBackslashPathOfTheDumpOpensRelativeToTheWorkingDirectory) {
  MakeDir("music");
  Write("music\\dump.txt", "01 02\r\n");
  FileHandle file = OpenFileForReading("music\\dump.txt");
  ASSERT_NE(file, INVALID_FILE);
  char buffer[16];
  EXPECT_EQ(ReadFileBytes(file, buffer, 16), 7);
  CloseFileHandle(file);
}

TEST_F(WindowsFiles, OthersMayReadButNobodyMayWriteMeanwhile) {
  Write("shared.txt", "x");
  FileHandle file = OpenFileForReading("shared.txt");
  ASSERT_NE(file, INVALID_FILE);
  HANDLE reader = CreateFileA("shared.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
  HANDLE writer = CreateFileA("shared.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  CloseFileHandle(file);
}

TEST_F(WindowsFiles, AFileHeldOpenForWritingCannotBeOpened) {
  Write("busy.txt", "x");
  HANDLE writer = CreateFileA("busy.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenFileForReading("busy.txt"), INVALID_FILE);
  CloseHandle(writer);
  FileHandle file = OpenFileForReading("busy.txt");
  EXPECT_NE(file, INVALID_FILE);
  CloseFileHandle(file);
}

TEST_F(WindowsFiles, LineReaderWithoutBufferStepsTheFileBackOverCrLf) {
  ClearAppContext();
  App.Heaps.Heap = CreatePrivateHeap(4096);
  StartFileServices();
  Write("lines.txt", std::string("A\r\nB\rC\n\rD\r\r\nE\0F\r", 16));
  for (int32_t size : {0, 4096, 1}) {
    TextFile* file = OpenTextFileBuffered("lines.txt", size);
    ASSERT_NE(file, nullptr);
    std::vector<std::string> lines;
    while (!AtEndOfFile(file)) lines.push_back(ReadLine(file));
    CloseTextFile(file);
    EXPECT_EQ(lines, (std::vector<std::string>{"A", "B", "C", "", "D", "", "E", "F"})) << "buffer " << size;
  }
  CloseAllOpenFiles();
  DestroyPrivateHeap(App.Heaps.Heap);
  App.Heaps.Heap = nullptr;
}

TEST_F(WindowsFiles, ShutdownClosesFilesStillListed) {
  Write("left.txt", "x");
  StartFileServices();
  FileHandle file = OpenFileForReading("left.txt");
  ASSERT_NE(file, INVALID_FILE);
  RegisterOpenFile(file);
  CloseAllOpenFiles();
  // The handle is closed: the file can be deleted at once, and the handle reads nothing.
  DWORD flags = 0;
  EXPECT_FALSE(GetHandleInformation(reinterpret_cast<HANDLE>(file), &flags));
  EXPECT_TRUE(DeleteFileA("left.txt"));
}

TEST(WindowsProcess, ModuleInstanceIsTheProgramsOwn) {
  EXPECT_EQ(CurrentModuleInstance(), static_cast<void*>(GetModuleHandleA(nullptr)));
  EXPECT_NE(CurrentModuleInstance(), nullptr);
}

std::atomic<int32_t> ThreadMayLeave{0};
std::atomic<int32_t> ThreadPriorityInside{-99};

int32_t WaitingRoutine(intptr_t) {
  while (ThreadMayLeave.load() == 0) Sleep(1);
  ThreadPriorityInside.store(GetThreadPriority(GetCurrentThread()));
  return 0;
}

TEST(WindowsThreads, ThePumpThreadRunsTimeCritical) {
  ThreadMayLeave.store(0);
  const int32_t thread = StartThread(WaitingRoutine, 0);
  ASSERT_GT(thread, 0);
  std::shared_ptr<ThreadRecord> record = FindThread(thread);
  ASSERT_NE(record, nullptr);
  HANDLE native = pthread_gethandle(record->Thread.native_handle());
  ASSERT_NE(native, nullptr);
  EXPECT_EQ(GetThreadPriority(native), THREAD_PRIORITY_NORMAL);
  RaiseThreadPriority(thread);
  EXPECT_EQ(GetThreadPriority(native), THREAD_PRIORITY_TIME_CRITICAL);
  ThreadMayLeave.store(1);
  JoinThread(thread);
  EXPECT_EQ(ThreadPriorityInside.load(), THREAD_PRIORITY_TIME_CRITICAL);
  RaiseThreadPriority(thread);  // forgotten: nothing happens
}

TEST(WindowsThreads, FineTimerAsksForOneMillisecond) {
  RequestFineTimer();
  // The request is in force: ending it succeeds. Windows refuses to end a period that was never
  // begun (TIMERR_NOCANDO); Wine 8 accepts any end, so there only a refused request shows.
  EXPECT_EQ(timeEndPeriod(1), static_cast<MMRESULT>(TIMERR_NOERROR));
  TIMECAPS caps{};
  ASSERT_EQ(timeGetDevCaps(&caps, sizeof caps), static_cast<MMRESULT>(TIMERR_NOERROR));
  EXPECT_LE(caps.wPeriodMin, 1u);
}

}  // namespace
