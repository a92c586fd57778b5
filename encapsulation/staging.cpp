// What building an image needs of the container operations: telling whether a container holds a
// file as it is now without restoring it anywhere, and encapsulating a file without putting it
// in place or touching any table.

#include <cstring>

#include "crypto/constant_time.h"
#include "operation_frame.h"
#include "platform/platform.h"

namespace velador {

bool Encapsulator::StoredBodyDeciphersTo(InputFile& container, const layout::Regions& regions,
                                         InputFile& input, const Key& key) {
  // Deciphered, the body a container stores must be the name block and then the input, byte for
  // byte: CBC under one key is one-to-one, so this says the same as enciphering the input and
  // comparing, and deciphering runs many blocks at once where enciphering chains them.
  AesCipher cipher = ContainerCipher(key);
  // Every chunk is deciphered and compared, whatever the earlier ones gave, and in constant
  // time: how much of the content matches must not show in the time taken.
  unsigned differs = 0;
  std::vector<std::uint8_t> expected;
  const ChunkStep decipherAndCompare = [&](Chunk& chunk) {
    cipher.Decrypt(chunk.data, chunk.data, chunk.count, CBC);
    std::size_t at = 0;
    if (chunk.position < nameBlock.size()) {
      at = std::min(chunk.count, nameBlock.size() - static_cast<std::size_t>(chunk.position));
      differs |= static_cast<unsigned>(
          !EqualInConstantTime(chunk.data, nameBlock.data() + chunk.position, at));
    }
    if (at == chunk.count) return;
    expected.resize(chunk.count - at);
    input.ReadAt(chunk.position + at - nameBlock.size(), expected.data(), expected.size());
    differs |= static_cast<unsigned>(
        !EqualInConstantTime(chunk.data + at, expected.data(), expected.size()));
  };
  RunPipeline(StoredBody(container, regions), {decipherAndCompare}, nullptr);
  return differs == 0;
}

bool Encapsulator::HoldsInput(const std::string& containerPath, ContainerType type,
                              const Key& key) {
  try {
    const std::unique_ptr<InputFile> input = OpenInputFile();
    // Only ever a container of a disc image.
    InputFile container(containerPath, readCounter, platform::kImageFile);
    const layout::Regions regions = layout::RegionsForContent(type, input->Size());
    if (input->Size() > layout::kMaxContentSize ||
        container.Size() != regions.trailerOffset + regions.trailerLength) {
      return false;
    }
    const layout::HeaderBytes header = layout::EncodeHeader(type, input->Size());
    layout::HeaderBytes stored{};
    container.ReadAt(0, stored.data(), stored.size());
    if (stored != header) return false;
    const Encipherment encipherment = FactsOf(type).encipherment;
    if (encipherment == Encipherment::kBody) {
      return StoredBodyDeciphersTo(container, regions, *input, key);
    }
    // The body as encapsulating the input writes it, compared chunk by chunk with the stored
    // one, every chunk and in constant time as above.
    unsigned differs = 0;
    std::vector<std::uint8_t> storedChunk;
    const ChunkStep compare = [&](Chunk& chunk) {
      if (encipherment == Encipherment::kNameBlock && chunk.position == 0) {
        const layout::NameBlock enciphered = CipherNameBlock(nameBlock, key, true);
        std::memcpy(chunk.data, enciphered.data(), enciphered.size());
      }
      storedChunk.resize(chunk.count);
      container.ReadAt(layout::kHeaderLength + chunk.position, storedChunk.data(), chunk.count);
      differs |=
          static_cast<unsigned>(!EqualInConstantTime(storedChunk.data(), chunk.data, chunk.count));
    };
    RunPipeline(BodyToEncapsulate(nameBlock, *input), {compare}, nullptr);
    return differs == 0;
  } catch (const InputFailure&) {
    return false;
  }
}

void Encapsulator::StageOnly(std::vector<DigestTail>& tails) { stagedTails = &tails; }

}  // namespace velador
