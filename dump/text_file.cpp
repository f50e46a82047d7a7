// SPDX-License-Identifier: GPL-2.0-or-later
#include "dump/text_file.h"

#include "platform/heap.h"

namespace {

// How many of want bytes the limit still lets the reader take.
int32_t Allowed(const TextFile* file, int32_t want) {
  if (file->ByteLimit <= 0) return want;
  const int64_t left = file->ByteLimit - file->Taken;
  return left <= 0 ? 0 : left < want ? static_cast<int32_t>(left) : want;
}

bool ReadByte(TextFile* file, unsigned char* byte) {
  if (!file->Buffer) {
    if (Allowed(file, 1) < 1 || ReadFileBytes(file->Handle, byte, 1) != 1) return false;
    ++file->Taken;
    return true;
  }
  if (file->Available < 1) {
    const int32_t want = Allowed(file, file->BufferSize);
    file->Filled = file->Available = want > 0 ? ReadFileBytes(file->Handle, file->Buffer, want) : 0;
    if (file->Filled > 0) file->Taken += file->Filled;
    if (file->Filled <= 0) {
      file->Filled = file->Available = 0;
      return false;
    }
  }
  *byte = file->Buffer[file->Filled - file->Available];
  --file->Available;
  return true;
}

// Only right after a ReadByte that delivered a byte.
void PutByteBack(TextFile* file) {
  if (file->Buffer) {
    ++file->Available;
  } else {
    StepFileBack(file->Handle);
    --file->Taken;
  }
}

}  // namespace

TextFile* OpenTextFileBuffered(const char* path, int32_t bufferSize) {
  FileHandle handle = OpenFileForReading(path);
  if (handle == INVALID_FILE) return nullptr;
  auto* file = static_cast<TextFile*>(HeapAllocZeroed(Heaps().Heap, sizeof(TextFile)));
  if (!file) {
    CloseFileHandle(handle);
    return nullptr;
  }
  file->Handle = handle;
  if (bufferSize > 0)
    file->Buffer = static_cast<unsigned char*>(HeapAllocZeroed(Heaps().Heap, static_cast<size_t>(bufferSize)));
  file->BufferSize = file->Buffer ? bufferSize : 0;
  file->Filled = file->Available = 0;
  RegisterOpenFile(handle);
  return file;
}

void SetTextFileLimit(TextFile* file, int64_t limit) {
  if (file && limit > 0) file->ByteLimit = limit;
}

// The bytes sit in the buffer as if one refill had delivered them; the next refill reads from
// INVALID_FILE, which gives 0 bytes: the end.
TextFile* OpenTextMemory(const char* bytes, int32_t size) {
  auto* file = static_cast<TextFile*>(HeapAllocZeroed(Heaps().Heap, sizeof(TextFile)));
  if (!file) return nullptr;
  file->Handle = INVALID_FILE;
  file->Buffer = static_cast<unsigned char*>(HeapAllocZeroed(Heaps().Heap, static_cast<size_t>(size > 0 ? size : 1)));
  if (!file->Buffer) {
    HeapRelease(Heaps().Heap, file);
    return nullptr;
  }
  for (int32_t i = 0; i < size; ++i) file->Buffer[i] = static_cast<unsigned char>(bytes[i]);
  file->BufferSize = size > 0 ? size : 1;
  file->Filled = file->Available = size;
  return file;
}

TextFile* OpenTextFile(const char* path) { return OpenTextFileBuffered(path, TEXT_FILE_BUFFER_SIZE); }

bool AtEndOfFile(TextFile* file) {
  unsigned char byte;
  if (!ReadByte(file, &byte)) return true;
  PutByteBack(file);
  return false;
}

std::string ReadLine(TextFile* file) {
  std::string line;
  unsigned char byte;
  while (ReadByte(file, &byte)) {
    if (byte == 0 || byte == '\n') break;
    if (byte == '\r') {
      if (ReadByte(file, &byte) && byte != '\n') PutByteBack(file);
      break;
    }
    line.push_back(static_cast<char>(byte));
  }
  return line;
}

void CloseTextFile(TextFile* file) {
  if (!file) return;
  HeapRelease(Heaps().Heap, file->Buffer);
  ForgetOpenFile(file->Handle);
  CloseFileHandle(file->Handle);
  HeapRelease(Heaps().Heap, file);
}
