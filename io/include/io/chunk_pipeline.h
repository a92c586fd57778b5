#pragma once

// Streams bytes from an input file through a chain of steps into a result file, chunk by
// chunk. On a long stream the reading, each step and the writing run on threads of their own,
// so that with several cores none of them waits for another; a short one runs on the calling
// thread alone, paying for no thread it does not need.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "io/checked_file.h"

namespace velador {

// One chunk of the stream on its way through the steps.
struct Chunk {
  std::uint8_t* data = nullptr;
  std::size_t count = 0;       // bytes of the stream the chunk holds
  std::uint64_t position = 0;  // where the chunk starts in the stream
  std::size_t skip = 0;        // leading bytes the result does not get; a step may raise it
};

// What is streamed: `prefixLength` bytes the caller holds (such as a name block; they must stay
// valid while the stream runs), then `length` bytes of `input` from `offset` on.
struct StreamSource {
  const std::uint8_t* prefix = nullptr;
  std::size_t prefixLength = 0;
  InputFile* input = nullptr;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;

  std::uint64_t Length() const { return prefixLength + length; }
};

// A step may change the chunk's bytes in place and raise its skip. It throws InputFailure or
// OutputFailure to stop the stream.
using ChunkStep = std::function<void(Chunk&)>;

struct PipelineShape {
  std::size_t chunkLength = kChunkLength;      // a multiple of 512 (cipher blocks and hash units)
  std::size_t ringLength = 4;                  // chunks in flight at most: the memory it takes
  std::uint64_t threadedAbove = kChunkLength;  // streams up to this long run on one thread
};

// Streams `source` in chunks of shape.chunkLength bytes, the last one shorter (an empty source
// gives no chunk): each chunk is read, handed to every step in order, then written to `result`
// from its skip on (with a null `result`, nothing is written). Every step sees every chunk, in
// order, one at a time; a step's state needs no lock. A failed read throws InputFailure, a
// failed write OutputFailure, a failing step what it threw. When several things fail, the one
// thrown is the one that doing the work chunk by chunk on one thread would have met first. All
// threads have ended when this returns or throws.
void RunPipeline(const StreamSource& source, const std::vector<ChunkStep>& steps,
                 ResultFile* result, const PipelineShape& shape = {});

}  // namespace velador
