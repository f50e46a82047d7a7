// SPDX-License-Identifier: GPL-2.0-or-later
// LHA-compressed data through lhasa's raw decoders.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Decodes packed[0, size) with the LHA method named method ("-lh5-", ...) into exactly
// length bytes (length <= MAX_INPUT_BYTES). The output grows as data decodes, so a false
// length allocates nothing ahead. -1 with why when the method is unknown or the stream ends
// early. crc gets the CRC-16 of the output.
int32_t UnpackLha(const char* method, const uint8_t* packed, size_t size, size_t length, std::vector<uint8_t>* out,
                  uint16_t* crc, std::string* why);
