// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/lh5.h"

#include <lha_decoder.h>

#include <cstring>

#include "formats/tune.h"

namespace {

struct PackedInput {
  const uint8_t* Next;
  size_t Left;
};

size_t FeedDecoder(void* buffer, size_t length, void* user) {
  auto* input = static_cast<PackedInput*>(user);
  const size_t take = length < input->Left ? length : input->Left;
  std::memcpy(buffer, input->Next, take);
  input->Next += take;
  input->Left -= take;
  return take;
}

constexpr size_t CHUNK = 64 * 1024;

}  // namespace

int32_t UnpackLha(const char* method, const uint8_t* packed, size_t size, size_t length, std::vector<uint8_t>* out,
                  uint16_t* crc, std::string* why) {
  out->clear();
  if (length > static_cast<size_t>(MAX_INPUT_BYTES)) {
    *why = "unpacked size " + std::to_string(length) + " is larger than " + std::to_string(MAX_INPUT_BYTES) + " bytes";
    return -1;
  }
  char name[6];
  std::memcpy(name, method, 5);
  name[5] = 0;
  LHADecoderType* type = lha_decoder_for_name(name);
  if (!type) {
    *why = std::string("unsupported LHA method ") + name;
    return -1;
  }
  PackedInput input{packed, size};
  LHADecoder* decoder = lha_decoder_new(type, FeedDecoder, &input, length);
  if (!decoder) {
    *why = "out of memory for the LHA decoder";
    return -1;
  }
  while (out->size() < length) {
    const size_t have = out->size();
    const size_t want = length - have < CHUNK ? length - have : CHUNK;
    out->resize(have + want);
    const size_t got = lha_decoder_read(decoder, out->data() + have, want);
    out->resize(have + got);
    if (got == 0) break;
  }
  *crc = lha_decoder_get_crc(decoder);
  lha_decoder_free(decoder);
  if (out->size() < length) {
    *why = std::string("damaged ") + name + " stream: it gives " + std::to_string(out->size()) + " of " +
           std::to_string(length) + " bytes";
    out->clear();
    return -1;
  }
  return 0;
}
