#pragma once

// Pieces shared by the container operations (internal to this library).

#include <algorithm>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "crypto/aes_cipher.h"
#include "encapsulation/content_hash_table.h"
#include "encapsulation/encapsulator.h"
#include "io/checked_file.h"
#include "encapsulation/messages.h"

namespace velador {

template <class Work>
bool Encapsulator::Produce(Work&& work) {
  try {
    InputFile input(inputPath.data());
    ResultFile result{std::string(PathText(resultPath))};
    work(input, result);
    result.Commit();
    return true;
  } catch (const InputFailure&) {
    tableWriter.reset();
    console.ErrorBlock({messages::kReadFailure});
  } catch (const OutputFailure&) {
    tableWriter.reset();
    console.ErrorBlock({messages::kWriteFailure});
  } catch (const std::exception&) {
    // Out of memory, say: the result was not completed, which is what the user must know.
    tableWriter.reset();
    console.ErrorBlock({messages::kWriteFailure});
  }
  return false;
}

// Hands `length` bytes of `input`, from `offset` on, to visit(data, count) in chunks of
// kChunkLength bytes (the last one shorter). `visit` may change the bytes it is given.
template <class Visit>
void StreamRange(InputFile& input, std::uint64_t offset, std::uint64_t length, Visit&& visit) {
  std::vector<std::uint8_t> chunk(
      static_cast<std::size_t>(std::min<std::uint64_t>(length, kChunkLength)));
  while (length > 0) {
    std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(length, kChunkLength));
    input.ReadAt(offset, chunk.data(), count);
    visit(chunk.data(), count);
    offset += count;
    length -= count;
  }
}

// Hands the body to be encapsulated (the name block, then the first `contentSize` bytes of
// `input`) to visit(data, count) in chunks of kChunkLength bytes, the last one shorter. Every
// chunk but the last is a whole number of cipher blocks and of hash units.
template <class Visit>
void StreamBody(const NameBlock& nameBlock, InputFile& input, std::uint64_t contentSize,
                Visit&& visit) {
  std::vector<std::uint8_t> chunk(kChunkLength);
  std::memcpy(chunk.data(), nameBlock.data(), nameBlock.size());
  std::size_t filled = nameBlock.size();
  std::uint64_t offset = 0;
  while (true) {
    std::size_t count = static_cast<std::size_t>(
        std::min<std::uint64_t>(contentSize - offset, kChunkLength - filled));
    input.ReadAt(offset, chunk.data() + filled, count);
    offset += count;
    filled += count;
    bool last = offset == contentSize;
    if (filled == kChunkLength || last) {
      visit(chunk.data(), filled);
      filled = 0;
    }
    if (last) return;
  }
}

// A cipher for one container: AES-128 under `key`, CBC from an all-zero chain.
inline AesCipher ContainerCipher(const Key& key) {
  AesCipher cipher;
  cipher.MakeKey(key.data(), zeroChain, 16, 16);
  return cipher;
}

// Takes a stored body in order: its first 272 bytes into `name`, the rest into `result`.
class BodySink {
 public:
  BodySink(NameBlock& name, ResultFile& result) : name_(name), result_(result) {}

  void operator()(const std::uint8_t* data, std::size_t count) {
    std::size_t head = 0;
    if (taken_ < name_.size()) {
      head = std::min(count, name_.size() - static_cast<std::size_t>(taken_));
      std::memcpy(name_.data() + taken_, data, head);
    }
    result_.Write(data + head, count - head);
    taken_ += count;
  }

 private:
  NameBlock& name_;
  ResultFile& result_;
  std::uint64_t taken_ = 0;
};

// The stored name block matches the expected one when all 272 bytes are equal, the letters A to
// Z compared without regard to case (no other byte is folded).
bool NamesMatch(const NameBlock& stored, const NameBlock& expected);

// Restores a body stored enciphered from offset 11: its first `enciphered` bytes deciphered
// under `key`, then the clear tail up to `bodyLength`, all handed to `sink` in order.
inline void RestoreEncipheredBody(InputFile& input, const Key& key, std::uint64_t enciphered,
                                  std::uint64_t bodyLength, BodySink& sink) {
  AesCipher cipher = ContainerCipher(key);
  StreamRange(input, layout::kHeaderLength, enciphered, [&](std::uint8_t* data, std::size_t count) {
    cipher.Decrypt(data, data, count, CBC);
    sink(data, count);
  });
  StreamRange(input, layout::kHeaderLength + enciphered, bodyLength - enciphered, sink);
}

}  // namespace velador
