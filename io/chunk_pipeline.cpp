#include "io/chunk_pipeline.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace velador {

namespace {

Chunk ChunkAt(const StreamSource& source, std::uint64_t index, std::size_t chunkLength,
              std::uint8_t* data) {
  Chunk chunk;
  chunk.data = data;
  chunk.position = index * chunkLength;
  chunk.count = static_cast<std::size_t>(
      std::min<std::uint64_t>(chunkLength, source.Length() - chunk.position));
  return chunk;
}

void ReadChunk(const StreamSource& source, Chunk& chunk) {
  std::size_t filled = 0;
  if (chunk.position < source.prefixLength) {
    filled = std::min(chunk.count, static_cast<std::size_t>(source.prefixLength - chunk.position));
    std::memcpy(chunk.data, source.prefix + chunk.position, filled);
  }
  if (filled < chunk.count) {
    source.input->ReadAt(source.offset + (chunk.position + filled - source.prefixLength),
                         chunk.data + filled, chunk.count - filled);
  }
}

void WriteChunk(ResultFile* result, const Chunk& chunk) {
  if (result != nullptr && chunk.skip < chunk.count) {
    result->Write(chunk.data + chunk.skip, chunk.count - chunk.skip);
  }
}

std::uint64_t ChunkCount(const StreamSource& source, std::size_t chunkLength) {
  return (source.Length() + chunkLength - 1) / chunkLength;
}

void RunInline(const StreamSource& source, const std::vector<ChunkStep>& steps, ResultFile* result,
               std::size_t chunkLength) {
  const std::uint64_t chunks = ChunkCount(source, chunkLength);
  if (chunks == 0) return;
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[static_cast<std::size_t>(
      std::min<std::uint64_t>(source.Length(), chunkLength))]);
  for (std::uint64_t index = 0; index < chunks; ++index) {
    Chunk chunk = ChunkAt(source, index, chunkLength, buffer.get());
    ReadChunk(source, chunk);
    for (const ChunkStep& step : steps) step(chunk);
    WriteChunk(result, chunk);
  }
}

// Stage 0 reads, stages 1 to n are the steps, stage n + 1 writes. A stage takes chunk k once
// the stage before it has finished k; the reader takes chunk k once the writer has finished
// chunk k - ring, whose buffer it reuses. One lock guards the progress counters: it is taken a
// few times per chunk of a mebibyte, far too seldom to cost anything. Each stage sleeps on a
// condition of its own, which only the stage it waits for (and a failure) signals: a finished
// chunk wakes the one thread it lets go on, not every thread of the run.
class ThreadedRun {
 public:
  ThreadedRun(const StreamSource& source, const std::vector<ChunkStep>& steps, ResultFile* result,
              const PipelineShape& shape)
      : source_(source),
        steps_(steps),
        result_(result),
        chunkLength_(shape.chunkLength),
        chunks_(ChunkCount(source, shape.chunkLength)),
        ring_(static_cast<std::size_t>(
            std::min<std::uint64_t>(std::max<std::size_t>(shape.ringLength, 1), chunks_))),
        buffer_(new std::uint8_t[ring_ * chunkLength_]),
        slots_(ring_),
        done_(steps.size() + 2, 0),
        changed_(new std::condition_variable[done_.size()]) {}

  void Run() {
    std::vector<std::thread> threads;
    try {
      for (std::size_t stage = 1; stage < done_.size(); ++stage) {
        threads.emplace_back([this, stage] { RunStage(stage); });
      }
    } catch (...) {
      Fail(0, std::current_exception());  // a thread that did not start stops the others
    }
    RunStage(0);
    for (std::thread& thread : threads) thread.join();
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  void RunStage(std::size_t stage) {
    for (std::uint64_t index = 0; index < chunks_; ++index) {
      if (!WaitFor(stage, index)) return;
      Chunk& chunk = slots_[index % ring_];
      try {
        Process(stage, index, chunk);
      } catch (...) {
        Fail(index, std::current_exception());
        return;
      }
      Finished(stage, index);
    }
  }

  void Process(std::size_t stage, std::uint64_t index, Chunk& chunk) {
    if (stage == 0) {
      chunk = ChunkAt(source_, index, chunkLength_, buffer_.get() + (index % ring_) * chunkLength_);
      ReadChunk(source_, chunk);
    } else if (stage <= steps_.size()) {
      steps_[stage - 1](chunk);
    } else {
      WriteChunk(result_, chunk);
    }
  }

  // False when the stream stopped before chunk `index`.
  bool WaitFor(std::size_t stage, std::uint64_t index) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_[stage].wait(lock, [&] { return index >= stopAt_ || Ready(stage, index); });
    return index < stopAt_;
  }

  bool Ready(std::size_t stage, std::uint64_t index) const {
    return stage == 0 ? index < done_.back() + ring_ : done_[stage - 1] > index;
  }

  // Only the next stage waits on this one's counter; the reader, on the writer's.
  void Finished(std::size_t stage, std::uint64_t index) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_[stage] = index + 1;
    }
    changed_[(stage + 1) % done_.size()].notify_one();
  }

  // Within one chunk the stages run in order, so the earliest chunk that failed names the
  // failure that one thread working chunk by chunk would have met first. Earlier chunks still
  // go through every stage.
  void Fail(std::uint64_t index, std::exception_ptr failure) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (index < stopAt_) {
        stopAt_ = index;
        failure_ = std::move(failure);
      }
    }
    for (std::size_t stage = 0; stage < done_.size(); ++stage) changed_[stage].notify_one();
  }

  const StreamSource& source_;
  const std::vector<ChunkStep>& steps_;
  ResultFile* const result_;
  const std::size_t chunkLength_;
  const std::uint64_t chunks_;
  const std::size_t ring_;
  const std::unique_ptr<std::uint8_t[]> buffer_;
  std::vector<Chunk> slots_;

  std::mutex mutex_;
  std::vector<std::uint64_t> done_;                           // per stage: chunks finished
  const std::unique_ptr<std::condition_variable[]> changed_;  // per stage: its wait ends
  std::uint64_t stopAt_ = UINT64_MAX;
  std::exception_ptr failure_;
};

}  // namespace

void RunPipeline(const StreamSource& source, const std::vector<ChunkStep>& steps,
                 ResultFile* result, const PipelineShape& shape) {
  if (source.Length() <= shape.threadedAbove) {
    RunInline(source, steps, result, shape.chunkLength);
    return;
  }
  ThreadedRun(source, steps, result, shape).Run();
}

}  // namespace velador
