// SPDX-License-Identifier: GPL-2.0-or-later
// The loader at its edges: files that are not regular files, a load asked to stop, and a file
// longer than the loader reads. FIFOs and device nodes are POSIX matters: not built for Windows.
#if !defined(_WIN32)
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/app_context.h"
#include "dump/dump_loader.h"
#include "dump/text_file.h"
#include "platform/heap.h"
#include "temp_file.h"

namespace {

const char* const Line = "01 00 00 00 00 00 00 00 00 00 00 00 00 FF\n";

class LoaderEdges : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearAppContext();
    App.Heaps.Heap = CreatePrivateHeap(4096);
    ConfigureDump();
    char pattern[] = "/tmp/tonewell-edges-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    Dir = pattern;
  }
  void TearDown() override {
    SetDumpStopCheck(nullptr);
    for (const char* name : {"fifo", "device", "link", "sub"}) {
      std::string path = Dir + "/" + name;
      ::unlink(path.c_str());
      ::rmdir(path.c_str());
    }
    ::rmdir(Dir.c_str());
    DestroyPrivateHeap(App.Heaps.Heap);
    App.Heaps.Heap = nullptr;
  }
  std::string Path(const char* name) const { return Dir + "/" + name; }
  // Loads path and expects it refused as no dump: -1, no frame, errno as given.
  void ExpectRefused(const std::string& path, int why) {
    errno = 0;
    EXPECT_EQ(LoadDumpFile(path.c_str()), -1) << path;
    EXPECT_EQ(errno, why) << path;
    EXPECT_EQ(App.Dump.FrameCount, 0) << path;
  }
  std::string Dir;
};

int32_t Calls = 0;
int32_t StopOnFourthCall() { return ++Calls >= 4; }
int32_t AlwaysStop() { return 1; }

}  // namespace

// Each of these used to hang the load: a FIFO without a writer in open, a FIFO whose writer
// never writes in read, /dev/zero and a device node in an endless run of NUL line ends.
TEST_F(LoaderEdges, FifosDevicesAndDirectoriesAreNoDump) {
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
  ExpectRefused(Path("fifo"), ENODEV);  // no writer
  const int writer = ::open(Path("fifo").c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  ExpectRefused(Path("fifo"), ENODEV);  // a writer that never writes
  ASSERT_EQ(::write(writer, Line, std::strlen(Line)), static_cast<ssize_t>(std::strlen(Line)));
  ExpectRefused(Path("fifo"), ENODEV);  // even with a line waiting
  ::close(writer);

  ExpectRefused("/dev/zero", ENODEV);
  // The same kind of node as /dev/zero (character device 1,5), made in a private folder.
  if (::mknod(Path("device").c_str(), S_IFCHR | 0600, makedev(1, 5)) == 0) {
    ExpectRefused(Path("device"), ENODEV);
    ASSERT_EQ(::symlink(Path("device").c_str(), Path("link").c_str()), 0);
    ExpectRefused(Path("link"), ENODEV);
  }
  ASSERT_EQ(::mkdir(Path("sub").c_str(), 0700), 0);
  ExpectRefused(Path("sub"), EISDIR);
  ExpectRefused(Dir + "/absent", ENOENT);
}

TEST_F(LoaderEdges, ASymlinkToARegularFileLoads) {
  TempFile file(std::string(Line) + Line);
  ASSERT_EQ(::symlink(file.Path.c_str(), Path("link").c_str()), 0);
  EXPECT_EQ(LoadDumpFile(Path("link").c_str()), 0);
  EXPECT_EQ(App.Dump.FrameCount, 2);
}

TEST_F(LoaderEdges, AStopRequestEndsTheLoadBetweenLines) {
  std::string bytes;
  for (int i = 0; i < 10; ++i) bytes += Line;
  TempFile file(bytes);
  Calls = 0;
  SetDumpStopCheck(StopOnFourthCall);
  EXPECT_EQ(LoadDumpFile(file.Path.c_str()), 0);
  EXPECT_EQ(App.Dump.FrameCount, 3);  // three lines read, asked before each
  EXPECT_EQ(App.Dump.RegisterDump[DumpIndex(0, 2)], 1);
  EXPECT_EQ(App.Dump.RegisterDump[DumpIndex(0, 3)], 0);
  SetDumpStopCheck(nullptr);
  EXPECT_EQ(LoadDumpFile(file.Path.c_str()), 0);
  EXPECT_EQ(App.Dump.FrameCount, 3 + 10);
}

TEST_F(LoaderEdges, AStopRequestedBeforeTheLoadSkipsIt) {
  char previous[4096];
  ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(::mkdir(Path("sub").c_str(), 0700), 0);
  const std::string music = Path("sub") + "/music";
  ASSERT_EQ(::mkdir(music.c_str(), 0700), 0);
  FILE* f = std::fopen((music + "/dump.txt").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs(Line, f);
  std::fclose(f);
  ASSERT_EQ(::chdir(Path("sub").c_str()), 0);
  SetDumpStopCheck(AlwaysStop);
  EXPECT_EQ(DumpLoader(), 0);
  EXPECT_EQ(App.Dump.FrameCount, 0);
  SetDumpStopCheck(nullptr);
  EXPECT_EQ(DumpLoader(), 0);
  EXPECT_EQ(App.Dump.FrameCount, 1);
  ASSERT_EQ(::chdir(previous), 0);
  std::remove((music + "/dump.txt").c_str());
  ::rmdir(music.c_str());
}

// A line that starts within the first MAX_DUMP_BYTES bytes is read whole only if it also ends
// there; one wholly past them is not read at all.
TEST_F(LoaderEdges, ReadingEndsAfterMaxDumpBytes) {
  const size_t line = std::strlen(Line);
  {
    TempFile file(std::string(static_cast<size_t>(MAX_DUMP_BYTES) - line, '\n') + Line);
    EXPECT_EQ(LoadDumpFile(file.Path.c_str()), 0);
    EXPECT_EQ(App.Dump.FrameCount, 1);
  }
  App.Dump.FrameCount = 0;
  {
    TempFile file(std::string(static_cast<size_t>(MAX_DUMP_BYTES), '\n') + Line + Line);
    EXPECT_EQ(LoadDumpFile(file.Path.c_str()), 0);
    EXPECT_EQ(App.Dump.FrameCount, 0);
  }
}

TEST_F(LoaderEdges, ByteLimitEndsTheTextFileBufferedOrNot) {
  TempFile file("AB\nCDEF\nGH\n");
  for (int32_t buffer : {4096, 2, 0}) {
    TextFile* text = OpenTextFileBuffered(file.Path.c_str(), buffer);
    ASSERT_NE(text, nullptr);
    SetTextFileLimit(text, 6);
    EXPECT_EQ(ReadLine(text), "AB") << buffer;
    EXPECT_FALSE(AtEndOfFile(text)) << buffer;
    EXPECT_EQ(ReadLine(text), "CDE") << buffer;  // bytes 3 to 5: the limit cuts the line
    EXPECT_TRUE(AtEndOfFile(text)) << buffer;
    EXPECT_EQ(ReadLine(text), "") << buffer;
    CloseTextFile(text);
  }
}

#endif
