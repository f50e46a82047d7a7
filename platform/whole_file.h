// SPDX-License-Identifier: GPL-2.0-or-later
// Whole-file input for programs that parse a file as one block of bytes (the music converters).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Reads the regular file at path (at most maxBytes bytes) into bytes. Opening never blocks:
// FIFOs, devices and directories are refused. 0 on success; -1 with a short reason in why
// ("is a directory", "is not a regular file (FIFO or device)", "is larger than N bytes", or
// the system's message) otherwise, bytes then empty.
int32_t ReadRegularFile(const char* path, int64_t maxBytes, std::vector<uint8_t>* bytes, std::string* why);
