#pragma once

// The SHA-1 compression function, in two implementations that give the same results: the
// portable one and one on the processor's SHA instructions. Internal to crypto/.

#include <cstddef>
#include <cstdint>

#include "dispatch.h"

namespace velador::sha1 {

// Runs `count` 64-byte blocks from `blocks` through the compression function, updating the
// five chaining words in `state`.
using Compressor = void (*)(std::uint32_t state[5], const std::uint8_t* blocks, std::size_t count);

void CompressPortable(std::uint32_t state[5], const std::uint8_t* blocks, std::size_t count);

// The instruction path when `features` allow it, else null (always null where the hardware
// paths are not built).
Compressor InstructionCompressor(const dispatch::Features& features);

// The compressor for dispatch::Active(): the instruction path where allowed, else portable.
Compressor ActiveCompressor();

// Messages one LanesCompressor call runs side by side.
inline constexpr int kLanes = 4;

// Runs `count` 64-byte blocks of each of kLanes messages through the compression function: lane
// i takes its blocks one after the other from blocks[i] and updates states[i]. Each lane ends
// as a Compressor called on it alone would leave it.
using LanesCompressor = void (*)(std::uint32_t (*states)[5], const std::uint8_t* const* blocks,
                                 std::size_t count);

// The instruction path running the lanes side by side, when `features` allow it and the
// architecture has one (x86-64), else null.
LanesCompressor InstructionLanesCompressor(const dispatch::Features& features);

}  // namespace velador::sha1
