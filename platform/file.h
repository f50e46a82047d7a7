// SPDX-License-Identifier: GPL-2.0-or-later
// Read-only file access and the table of open files that shutdown closes.
#pragma once
#include <cstdint>

using FileHandle = intptr_t;
constexpr FileHandle INVALID_FILE = -1;

// Opens an existing file for reading; others may read it but nobody may write it meanwhile
// (where the system can enforce that). A backslash in path counts as a directory separator.
// Only regular files open: a directory, FIFO, device or terminal gives INVALID_FILE at once,
// without waiting for a writer.
FileHandle OpenFileForReading(const char* path);
// Reads up to count bytes in file order; 0 at the end of the file and after a failure.
int32_t ReadFileBytes(FileHandle file, void* buffer, int32_t count);
// Moves the file position back by one byte.
void StepFileBack(FileHandle file);
void CloseFileHandle(FileHandle file);

// The table of open files: files registered here are closed by CloseAllOpenFiles at shutdown.
void StartFileServices();
void RegisterOpenFile(FileHandle file);
void ForgetOpenFile(FileHandle file);
void CloseAllOpenFiles();
