#pragma once

// Pieces shared by the container operations (internal to this library).

#include <algorithm>
#include <cstring>
#include <exception>
#include <functional>
#include <vector>

#include "crypto/aes_cipher.h"
#include "crypto/sha1_hasher.h"
#include "encapsulation/container_layout.h"
#include "encapsulation/content_hash_table.h"
#include "encapsulation/encapsulator.h"
#include "io/checked_file.h"
#include "io/chunk_pipeline.h"
#include "io/spooled_bytes.h"

namespace velador {

// The failure an exception out of an operation's work stands for.
inline Failure FailureOf(std::exception_ptr thrown) {
  try {
    std::rethrow_exception(thrown);
  } catch (const InputFailure&) {
    return Failure::kRead;
  } catch (const OutputFailure&) {
    return Failure::kWrite;
  } catch (const std::exception&) {
    // Out of memory, say: the result was not completed, which is what the user must know.
    return Failure::kWrite;
  }
}

template <class Work, class Finish>
Failure Encapsulator::Produce(Work&& work, Finish&& finish, bool bodyFirst) {
  try {
    const std::unique_ptr<InputFile> input = OpenInputFile();
    ResultFile result(paths.result, paths.resultLinkFree);
    work(*input, result);
    if (stagedTails != nullptr) {
      finish(result);
      stagedPath = result.Detach();
      return Failure::kNone;
    }
    // The transaction, if any, ends inside the step, on the thread that ran it.
    const std::function<void()> step = [&] {
      try {
        finish(result);
        // From the seal on, a run killed midway puts the container in place rather than
        // taking its entries back: so the container, whole, must be found under its temporary
        // name even after a power failure, before the seal.
        if (tableWriter && tableWriter->Journaled()) {
          result.Sync();
          result.SyncFolder();
        }
        if (tableWriter && !tableWriter->Seal()) throw OutputFailure{};
        result.Commit();
        // The container in place names its entries: they stay, whatever happens from here on.
        if (tableWriter) tableWriter->Keep();
      } catch (...) {
        tableWriter.reset();  // puts back any entries added
        throw;
      }
      // The record of the transaction goes once the rename is on the disk; if that cannot be
      // made sure of, it stays, so that the next run puts the container in place again should a
      // power failure have lost the rename.
      try {
        result.SyncFolder();
      } catch (...) {
        if (tableWriter) tableWriter->KeepRecord();
        tableWriter.reset();
        throw;
      }
      tableWriter.reset();
    };
    if (bodyFirst || turn != nullptr) result.Sync();
    if (turn != nullptr) {
      turn->Run(step);
    } else {
      step();
    }
    return Failure::kNone;
  } catch (...) {
    tableWriter.reset();
    return FailureOf(std::current_exception());
  }
}

template <class Work>
Failure Encapsulator::Produce(Work&& work) {
  return Produce(
      std::forward<Work>(work), [](ResultFile&) {}, false);
}

template <class Work>
Failure Encapsulator::Restore(Work&& work) {
  if (!paths.result.empty()) {
    return Produce([&](InputFile& input, ResultFile& result) { work(input, &result); });
  }
  try {
    const std::unique_ptr<InputFile> input = OpenInputFile();
    work(*input, static_cast<ResultFile*>(nullptr));
    return Failure::kNone;
  } catch (...) {
    return FailureOf(std::current_exception());
  }
}

// Digest tails a run keeps in memory before it spools them to a file beside the result: those
// of 64 MiB of body.
inline constexpr std::size_t kTailsInMemory = 1u << 20;

// Writes the header of a container of `type` for the content of `input`. The size field has
// 32 bits; a file that grew past it since it was checked is not read.
inline void WriteHeader(ResultFile& result, ContainerType type, const InputFile& input) {
  if (input.Size() > layout::kMaxContentSize) throw InputFailure{};
  const layout::HeaderBytes header = layout::EncodeHeader(type, input.Size());
  result.Write(header.data(), header.size());
}

// Where the parts of the container `input` lie; InputFailure when it is too short for `type`.
inline layout::Regions ReadRegions(InputFile& input, ContainerType type) {
  std::uint8_t header[layout::kHeaderLength] = {};
  const std::size_t count =
      static_cast<std::size_t>(std::min<std::uint64_t>(input.Size(), sizeof header));
  input.ReadAt(0, header, count);
  auto regions =
      layout::LocateRegions(type, input.Size(), layout::DecodeHeader(header, count).contentSize);
  if (!regions) throw InputFailure{};
  return *regions;
}

// The body to be encapsulated: the name block, then the whole content of `input`. Every chunk
// but the last is a whole number of cipher blocks and of hash units.
inline StreamSource BodyToEncapsulate(const layout::NameBlock& nameBlock, InputFile& input) {
  return {nameBlock.data(), nameBlock.size(), &input, 0, input.Size()};
}

// The body a container stores, from offset 11 on.
inline StreamSource StoredBody(InputFile& input, const layout::Regions& regions) {
  return {nullptr, 0, &input, layout::kHeaderLength, regions.bodyLength};
}

// Takes the first 272 bytes of a stored body into `name` and keeps them out of the result.
inline void TakeNameBlock(Chunk& chunk, layout::NameBlock& name) {
  if (chunk.position >= name.size()) return;
  const std::size_t head =
      std::min(chunk.count, name.size() - static_cast<std::size_t>(chunk.position));
  std::memcpy(name.data() + chunk.position, chunk.data, head);
  chunk.skip = std::max(chunk.skip, head);
}

// A cipher for one container: AES-128 under `key`, CBC from an all-zero chain.
inline AesCipher ContainerCipher(const Key& key) {
  AesCipher cipher;
  cipher.MakeKey(key.data(), zeroChain, 16, 16);
  return cipher;
}

// A name block enciphered (or, with `encipher` false, deciphered) on its own under `key`.
inline layout::NameBlock CipherNameBlock(const layout::NameBlock& in, const Key& key,
                                         bool encipher) {
  AesCipher cipher = ContainerCipher(key);
  layout::NameBlock out{};
  if (encipher) {
    cipher.Encrypt(in.data(), out.data(), in.size(), CBC);
  } else {
    cipher.Decrypt(in.data(), out.data(), in.size(), CBC);
  }
  return out;
}

inline DigestTail TailOf(const Sha1Hasher& hasher) {
  DigestTail tail;
  std::copy_n(hasher.digest + table::kDigestTailOffset, tail.size(), tail.begin());
  return tail;
}

inline DigestTail DigestTailOf(const std::uint8_t* data, std::size_t count) {
  Sha1Hasher hasher;
  hasher.Update(data, count);
  hasher.Final();
  return TailOf(hasher);
}

// Restores a body stored enciphered from offset 11: its first `regions.encipheredLength` bytes
// deciphered under `key`, the clear tail as it is; the name block goes to `name`, the content
// to `result`. Without a result only the name block is read and deciphered: nothing else of
// the body bears on a verdict. `beforeDeciphering`, when given, sees each chunk as it is stored.
inline void RestoreEncipheredBody(InputFile& input, const Key& key, layout::Regions regions,
                                  layout::NameBlock& name, ResultFile* result,
                                  const ChunkStep* beforeDeciphering = nullptr) {
  if (result == nullptr) regions.bodyLength = layout::kNameBlockLength;
  AesCipher cipher = ContainerCipher(key);
  const ChunkStep decipher = [&](Chunk& chunk) {
    if (chunk.position < regions.encipheredLength) {
      const std::uint64_t enciphered = regions.encipheredLength - chunk.position;
      cipher.Decrypt(chunk.data, chunk.data, std::min<std::uint64_t>(chunk.count, enciphered), CBC);
    }
    TakeNameBlock(chunk, name);
  };
  if (beforeDeciphering != nullptr) {
    RunPipeline(StoredBody(input, regions), {*beforeDeciphering, decipher}, result);
  } else {
    RunPipeline(StoredBody(input, regions), {decipher}, result);
  }
}

}  // namespace velador
