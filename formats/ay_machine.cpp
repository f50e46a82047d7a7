// SPDX-License-Identifier: GPL-2.0-or-later
// The AY machine: RAM image, start-up stub, registers, the interrupt window and the chip ports.
// An uncontended 3.4944 MHz Z80 with z80ex's instruction and interrupt timings: no memory or
// I/O contention, no wait states, no NMI, and an FF data bus during interrupt acknowledge.
// A chip write belongs to the frame in which the CPU step that made it began.
#include "formats/ay_machine.h"

#ifdef TONEWELL_NO_Z80EX
// A build made without z80ex (its sources were missing for the cross build): no AY file plays.
int32_t RunAyMachine(const AyStart&, const AyBlock*, size_t, int64_t, AyFrames*, std::string* why) {
  *why = "this build has no Z80 (z80ex was missing when it was built): AY files cannot be played";
  return -1;
}
#else
#include <z80ex/z80ex.h>

#include <cstring>
#include <memory>

#include "psg/chip_registers.h"

namespace {

constexpr int32_t NO_REGISTER = -1;

constexpr uint8_t OP_RET = 0xC9, OP_EI = 0xFB, OP_DI = 0xF3, OP_CALL = 0xCD, OP_HALT = 0x76, OP_JR = 0x18;
constexpr uint8_t OP_ED = 0xED, OP_IM1 = 0x56, OP_IM2 = 0x5E;
constexpr uint16_t IM1_VECTOR = 0x0038;
constexpr uint8_t BUS_IDLE = 0xFF;        // the data bus when nothing drives it
constexpr uint8_t START_I = 3;            // I at start: IM 2 vectors come from 03FF

// Port decoding: ZX Spectrum 128 chip ports by A15, A14 and A1; the CPC's 8255 ports A and C
// by the high byte; the ULA (beeper) by a low byte of FE.
constexpr uint16_t ZX_MASK = 0x8002, ZX_MATCH = 0x8000, ZX_SELECT_BIT = 0x4000;
constexpr uint8_t CPC_PORT_A = 0xF4, CPC_PORT_C = 0xF6, ULA_PORT = 0xFE;
constexpr uint8_t CPC_SELECT = 3, CPC_WRITE = 2;  // port C bits 7-6 (BDIR, BC1)

struct Machine {
  uint8_t Memory[65536];
  uint8_t Chip[CHIP_REGISTERS];
  int32_t Selected;
  uint8_t Latch;
  AyOutput Output;
  bool ShapeWritten;
};

Z80EX_BYTE ReadMemory(Z80EX_CONTEXT*, Z80EX_WORD address, int, void* user) {
  return static_cast<Machine*>(user)->Memory[address];
}

void WriteMemory(Z80EX_CONTEXT*, Z80EX_WORD address, Z80EX_BYTE value, void* user) {
  static_cast<Machine*>(user)->Memory[address] = value;
}

bool IsZxChipPort(uint16_t port) { return (port & ZX_MASK) == ZX_MATCH; }

Z80EX_BYTE ReadPort(Z80EX_CONTEXT*, Z80EX_WORD port, void* user) {
  const Machine* m = static_cast<Machine*>(user);
  if (IsZxChipPort(port) && (port & ZX_SELECT_BIT) && m->Selected != NO_REGISTER && m->Selected < R14)
    return m->Chip[m->Selected] & REGISTER_MASK[m->Selected];
  return BUS_IDLE;
}

void Select(Machine* m, uint8_t value) { m->Selected = value < CHIP_REGISTERS ? value : NO_REGISTER; }

void Write(Machine* m, uint8_t value) {
  if (m->Selected == NO_REGISTER || m->Selected >= R14) return;  // deselected, or the I/O ports
  m->Chip[m->Selected] = value;
  if (m->Selected == R13) m->ShapeWritten = true;
}

void WritePort(Z80EX_CONTEXT*, Z80EX_WORD port, Z80EX_BYTE value, void* user) {
  Machine* m = static_cast<Machine*>(user);
  const uint8_t high = static_cast<uint8_t>(port >> 8);
  if ((port & 0xFF) == ULA_PORT) return;
  if (m->Output == AY_NO_CHIP) {
    if (high == CPC_PORT_A || high == CPC_PORT_C) m->Output = AY_CPC;
    else if (IsZxChipPort(port)) m->Output = AY_ZX;
    else return;
  }
  if (m->Output == AY_ZX) {
    if (!IsZxChipPort(port)) return;
    if (port & ZX_SELECT_BIT) Select(m, value);
    else Write(m, value);
  } else if (high == CPC_PORT_A) {
    m->Latch = value;
  } else if (high == CPC_PORT_C) {
    if (value >> 6 == CPC_SELECT) Select(m, m->Latch);
    else if (value >> 6 == CPC_WRITE) Write(m, m->Latch);
  }
}

Z80EX_BYTE ReadBus(Z80EX_CONTEXT*, void*) { return BUS_IDLE; }

void BuildMemory(Machine* m, const AyStart& start, const AyBlock* blocks, size_t blockCount) {
  std::memset(m->Memory, OP_RET, 0x100);
  std::memset(m->Memory + 0x100, 0xFF, 0x4000 - 0x100);
  std::memset(m->Memory + 0x4000, 0x00, 0x10000 - 0x4000);
  m->Memory[IM1_VECTOR] = OP_EI;
  const uint8_t initLow = start.Init & 0xFF, initHigh = start.Init >> 8;
  if (start.Interrupt == 0) {
    // DI; CALL INIT; loop: IM 2; EI; HALT; JR loop
    const uint8_t stub[] = {OP_DI, OP_CALL, initLow, initHigh, OP_ED, OP_IM2, OP_EI, OP_HALT, OP_JR, 0xFA};
    std::memcpy(m->Memory, stub, sizeof stub);
  } else {
    // DI; CALL INIT; loop: IM 1; EI; HALT; CALL INTERRUPT; JR loop
    const uint8_t stub[] = {OP_DI,   OP_CALL, initLow, initHigh, OP_ED, OP_IM1, OP_EI, OP_HALT, OP_CALL,
                            static_cast<uint8_t>(start.Interrupt & 0xFF), static_cast<uint8_t>(start.Interrupt >> 8),
                            OP_JR,   0xF7};
    std::memcpy(m->Memory, stub, sizeof stub);
  }
  for (size_t b = 0; b < blockCount; ++b)
    if (blocks[b].Length > 0) std::memcpy(m->Memory + blocks[b].Address, blocks[b].Data, blocks[b].Length);
}

void SetRegisters(Z80EX_CONTEXT* cpu, const AyStart& start) {
  for (Z80_REG_T pair : {regAF, regBC, regDE, regHL, regAF_, regBC_, regDE_, regHL_, regIX, regIY})
    z80ex_set_reg(cpu, pair, start.Registers);
  z80ex_set_reg(cpu, regSP, start.Stack);
  z80ex_set_reg(cpu, regPC, 0);
  z80ex_set_reg(cpu, regI, START_I);
  z80ex_set_reg(cpu, regR, 0);
  z80ex_set_reg(cpu, regR7, 0);
  z80ex_set_reg(cpu, regIM, 0);
  z80ex_set_reg(cpu, regIFF1, 0);
  z80ex_set_reg(cpu, regIFF2, 0);
}

}  // namespace

int32_t RunAyMachine(const AyStart& start, const AyBlock* blocks, size_t blockCount, int64_t frames, AyFrames* out,
                     std::string* why) {
  std::unique_ptr<Machine> m(new (std::nothrow) Machine{});
  if (!m) {
    *why = "out of memory for the Z80's 64 KiB";
    return -1;
  }
  m->Selected = R0;
  BuildMemory(m.get(), start, blocks, blockCount);
  Machine* user = m.get();
  Z80EX_CONTEXT* cpu = z80ex_create(ReadMemory, user, WriteMemory, user, ReadPort, user, WritePort, user, ReadBus, user);
  if (!cpu) {
    *why = "out of memory for the Z80";
    return -1;
  }
  SetRegisters(cpu, start);
  out->Registers.assign(static_cast<size_t>(frames) * SOUND_REGISTERS, 0);
  out->ShapeWritten.assign(static_cast<size_t>(frames), 0);
  int64_t t = 0;  // T-states since the start
  for (int64_t k = 0; k < frames; ++k) {
    const int64_t windowStart = k * AY_FRAME_TSTATES, windowEnd = windowStart + AY_FRAME_TSTATES;
    const int64_t requestEnd = k >= 1 ? windowStart + AY_INT_TSTATES : 0;
    m->ShapeWritten = false;
    while (t < windowEnd) {
      if (t < requestEnd) {
        const int taken = z80ex_int(cpu);
        if (taken > 0) {
          t += taken;
          continue;
        }
      }
      if (z80ex_doing_halt(cpu)) {
        // Nothing can wake the CPU before the window ends: do its HALT cycles (4 T, R + 1
        // each) at once.
        const int64_t cycles = (windowEnd - t + 3) / 4;
        t += 4 * cycles;
        z80ex_set_reg(cpu, regR, static_cast<Z80EX_WORD>((z80ex_get_reg(cpu, regR) + cycles) & 0xFF));
        continue;
      }
      t += z80ex_step(cpu);
    }
    uint8_t* frame = &out->Registers[static_cast<size_t>(k) * SOUND_REGISTERS];
    std::memcpy(frame, m->Chip, SOUND_REGISTERS);  // R13: the last shape written when ShapeWritten
    out->ShapeWritten[static_cast<size_t>(k)] = m->ShapeWritten ? 1 : 0;
  }
  out->Output = m->Output;
  z80ex_destroy(cpu);
  return 0;
}
#endif
