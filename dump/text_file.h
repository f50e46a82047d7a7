// SPDX-License-Identifier: GPL-2.0-or-later
// Line reader: an existing file read through a 4096-byte buffer, one byte at a time. Lines end
// with CR LF, LF, a lone CR or NUL; the last line needs no terminator. Bytes pass unchanged.
#pragma once
#include <cstdint>
#include <string>

#include "platform/file.h"

struct TextFile {
  FileHandle Handle;
  unsigned char* Buffer;  // null: unbuffered, one platform read per byte
  int32_t BufferSize;     // 4096
  int32_t Filled;         // bytes the last refill placed in Buffer
  int32_t Available;      // of those, not yet delivered; next is Buffer[Filled - Available]
  int64_t Taken;          // bytes read from the system so far
  int64_t ByteLimit;      // the reader takes no more than this many bytes; 0: no limit
};

constexpr int32_t TEXT_FILE_BUFFER_SIZE = 4096;

// Opens an existing file for reading (relative to the working directory). Null on failure.
TextFile* OpenTextFile(const char* path);
// As OpenTextFile with a buffer of bufferSize bytes; 0 reads one byte per platform read, as
// when the buffer cannot be allocated.
TextFile* OpenTextFileBuffered(const char* path, int32_t bufferSize);
// Caps what the reader takes from the file at limit bytes (> 0): past them the file reads as
// ended. A call after reading began counts the bytes already taken.
void SetTextFileLimit(TextFile* file, int64_t limit);
// A line reader over a copy of bytes[0, size) (no file behind it), read exactly as a file of
// those bytes. Null when the copy cannot be allocated.
TextFile* OpenTextMemory(const char* bytes, int32_t size);
// True when no further byte can be read (a failed read counts as the end).
bool AtEndOfFile(TextFile* file);
// The next line without its terminator; empty when the file is exhausted.
std::string ReadLine(TextFile* file);
// Closes the file and releases its buffer. Null: no-op.
void CloseTextFile(TextFile* file);
