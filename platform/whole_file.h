// SPDX-License-Identifier: GPL-2.0-or-later
// Whole-file input for programs that parse a file as one block of bytes (the music converters).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Reads the regular file at path (at most maxBytes bytes) into bytes. Opening never blocks:
// FIFOs, devices and directories are refused. 0 on success; -1 with a short reason in why
// (NotRegularFileReason's, "is larger than N bytes", or the system's message) otherwise, bytes
// then empty.
int32_t ReadRegularFile(const char* path, int64_t maxBytes, std::vector<uint8_t>* bytes, std::string* why);

// Why the file at path is no input to read when it is no regular file: "is a directory", "is
// a FIFO, not a regular file" (likewise a character device, a block device, a socket; on
// Windows "is not a regular file" for a pipe or a device), "is not a regular file". Null when
// it is a regular file or cannot be examined.
const char* NotRegularFileReason(const char* path);
