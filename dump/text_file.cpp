#include "dump/text_file.h"

#include "app/app_context.h"
#include "platform/heap.h"

namespace {

bool ReadByte(TextFile* file, unsigned char* byte) {
  if (!file->Buffer) return ReadFileBytes(file->Handle, byte, 1) == 1;
  if (file->Available < 1) {
    file->Filled = file->Available = ReadFileBytes(file->Handle, file->Buffer, file->BufferSize);
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
  if (file->Buffer)
    ++file->Available;
  else
    StepFileBack(file->Handle);
}

}  // namespace

TextFile* OpenTextFileBuffered(const char* path, int32_t bufferSize) {
  FileHandle handle = OpenFileForReading(path);
  if (handle == INVALID_FILE) return nullptr;
  auto* file = static_cast<TextFile*>(HeapAllocZeroed(App.Heap, sizeof(TextFile)));
  if (!file) {
    CloseFileHandle(handle);
    return nullptr;
  }
  file->Handle = handle;
  if (bufferSize > 0)
    file->Buffer = static_cast<unsigned char*>(HeapAllocZeroed(App.Heap, static_cast<size_t>(bufferSize)));
  file->BufferSize = file->Buffer ? bufferSize : 0;
  file->Filled = file->Available = 0;
  RegisterOpenFile(handle);
  return file;
}

// The bytes sit in the buffer as if one refill had delivered them; the next refill reads from
// INVALID_FILE, which gives 0 bytes: the end.
TextFile* OpenTextMemory(const char* bytes, int32_t size) {
  auto* file = static_cast<TextFile*>(HeapAllocZeroed(App.Heap, sizeof(TextFile)));
  if (!file) return nullptr;
  file->Handle = INVALID_FILE;
  file->Buffer = static_cast<unsigned char*>(HeapAllocZeroed(App.Heap, static_cast<size_t>(size > 0 ? size : 1)));
  if (!file->Buffer) {
    HeapRelease(App.Heap, file);
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
  HeapRelease(App.Heap, file->Buffer);
  ForgetOpenFile(file->Handle);
  CloseFileHandle(file->Handle);
  HeapRelease(App.Heap, file);
}
