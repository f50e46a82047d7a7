// SPDX-License-Identifier: GPL-2.0-or-later
// An LHA archive around one music file (how YM files are almost always kept): the first
// member's header (level 0, 1 or 2), its data unpacked by lhasa and checked against the
// header's CRC-16, and the member read by the reader its content picks.
#include <cstring>

#include "formats/bytes.h"
#include "formats/lh5.h"
#include "formats/tune.h"

namespace {

bool DetectLha(const uint8_t* bytes, size_t size) {
  // "-lh5-" (or another -lh?- / -lz?- method) at byte 2, a header level 0..2 at byte 20.
  return size >= 22 && bytes[0] != 0 && bytes[2] == '-' && bytes[3] == 'l' && (bytes[4] == 'h' || bytes[4] == 'z') &&
         bytes[6] == '-' && bytes[20] <= 2;
}

struct Member {
  const uint8_t* Data;
  size_t Packed;
  size_t Original;
  uint16_t Crc;
};

int32_t FindMember(const uint8_t* bytes, size_t size, Member* m, std::string* why) {
  const uint32_t level = bytes[20];
  uint64_t dataAt;
  uint64_t packed = Le32(bytes + 7);
  m->Original = Le32(bytes + 11);
  if (level == 2) {
    dataAt = Le16(bytes);
    if (dataAt < 26 || size < 26) {
      *why = "bad LHA header: level-2 header size " + std::to_string(dataAt);
      return -1;
    }
    m->Crc = static_cast<uint16_t>(Le16(bytes + 21));
  } else {
    const uint32_t headerSize = bytes[0];
    const uint32_t nameLength = bytes[21];
    // Level 0: name and CRC inside the header; level 1 also an OS byte and the first
    // extended header's size.
    const uint64_t needed = 22 + nameLength + 2 + (level == 1 ? 3 : 0);
    if (headerSize + 2 < needed || size < needed) {
      *why = "bad LHA header: header size " + std::to_string(headerSize) + " for a name of " +
             std::to_string(nameLength) + " bytes";
      return -1;
    }
    if (headerSize + 2 > size) {
      *why = "header points past the end: LHA header of " + std::to_string(headerSize + 2) + " bytes in " +
             std::to_string(size);
      return -1;
    }
    m->Crc = static_cast<uint16_t>(Le16(bytes + 22 + nameLength));
    dataAt = headerSize + 2;
    if (level == 1) {
      // Extended headers, each ending in the size of the next one (0 = none); the packed
      // size counts them too.
      uint64_t next = Le16(bytes + headerSize);
      while (next != 0) {
        if (next < 3 || dataAt + next > size) {
          *why = "header points past the end: LHA extended header of " + std::to_string(next) + " bytes";
          return -1;
        }
        const uint64_t following = Le16(bytes + dataAt + next - 2);
        if (packed < next) {
          *why = "bad LHA header: extended headers larger than the packed size";
          return -1;
        }
        packed -= next;
        dataAt += next;
        next = following;
      }
    }
  }
  if (dataAt > size || packed > size - dataAt) {
    *why = "header points past the end: LHA member of " + std::to_string(packed) + " packed bytes at " +
           std::to_string(dataAt) + " in " + std::to_string(size);
    return -1;
  }
  m->Data = bytes + dataAt;
  m->Packed = static_cast<size_t>(packed);
  return 0;
}

int32_t ReadLha(const uint8_t* bytes, size_t size, SourceTune* tune, std::string* why) {
  Member m;
  if (!DetectLha(bytes, size) || FindMember(bytes, size, &m, why) != 0) {
    if (why->empty()) *why = "not an LHA archive";
    return -1;
  }
  const std::string method(reinterpret_cast<const char*>(bytes + 2), 5);
  std::vector<uint8_t> data;
  uint16_t crc;
  if (UnpackLha(method.c_str(), m.Data, m.Packed, m.Original, &data, &crc, why) != 0) return -1;
  if (crc != m.Crc) {
    *why = "damaged " + method + " stream: CRC " + std::to_string(crc) + " instead of " + std::to_string(m.Crc);
    return -1;
  }
  const TuneReader* inner = FindTuneReader(data.data(), data.size());
  if (!inner || inner == &LhaReader) {
    *why = "the LHA archive's member is no known music format";
    return -1;
  }
  const int32_t result = inner->Read(data.data(), data.size(), tune, why);
  if (result != 0) return result;
  tune->Format += " in LHA " + method;
  return 0;
}

}  // namespace

const TuneReader LhaReader = {.Name = "LHA", .Detect = DetectLha, .Read = ReadLha};
