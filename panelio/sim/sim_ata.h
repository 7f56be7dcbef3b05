#pragma once
// The ATA side of a simulated disk: the command blocks that carry ATA commands (ATA PASS-THROUGH
// (12) and (16), the SATA filter's miniport request) decoded into registers, and the answers of a
// disk to IDENTIFY DEVICE and the S.M.A.R.T. commands from its files.

#include <cstdint>
#include <optional>
#include <span>

#include "panelio/env.h"
#include "panelio/sim/world.h"

namespace kuv::sim {

// The registers of an ATA PASS-THROUGH (12) (0xA1) or (16) (0x85) command block; nullopt for any
// other or a block too short for its operation code. Only the low bytes of 16-byte fields count.
std::optional<AtaTaskFile> AtaFromPassThrough(std::span<const std::uint8_t> cdb);

// True when the pass-through block asks for a data-in transfer (T_DIR set and a length given).
bool PassThroughReadsData(std::span<const std::uint8_t> cdb);

inline constexpr std::size_t kFilterRequestIn = 69;
inline constexpr std::size_t kFilterRequestOut = 557;
inline constexpr std::size_t kFilterReplyOffset = 44;

struct FilterRequest {
  std::uint32_t controlCode = 0;  // 0x1B0501 identify .. 0x1B0504 enable
  std::uint8_t pathId = 0;
  std::uint8_t targetId = 0;
  AtaTaskFile registers;
};

// A SATA filter request as the filter driver reads it: header length 28, signature "QM_SATA_",
// one of the four control codes, and a register block that agrees with the control code. nullopt
// for anything else.
std::optional<FilterRequest> ParseFilterRequest(std::span<const std::uint8_t> in);

// One ATA command executed by a disk: IDENTIFY DEVICE (0xEC) from its identify file, S.M.A.R.T.
// (0xB0, LBA mid/high 0x4F/0xC2) READ DATA 0xD0 and READ THRESHOLDS 0xD1 from its files, ENABLE
// OPERATIONS 0xD8 and RETURN STATUS 0xDA without data. dataIn is 512 bytes for the data-in
// commands. An error (the drive aborts the command) for anything else or a missing file.
Status AnswerAta(const Disk& disk, const AtaTaskFile& registers, std::span<std::uint8_t> dataIn);

}  // namespace kuv::sim
