// What building an image needs of the container operations: telling whether a container holds a
// file as it is now without restoring it anywhere, and encapsulating a file without putting it
// in place or touching any table.

#include <cstring>

#include "crypto/constant_time.h"
#include "operation_frame.h"

namespace velador {

bool Encapsulator::HoldsInput(const std::string& containerPath, ContainerType type,
                              const Key& key) {
  try {
    const std::unique_ptr<InputFile> input = OpenInputFile();
    InputFile container(containerPath, readCounter);
    const layout::Regions regions = layout::RegionsForContent(type, input->Size());
    if (input->Size() > layout::kMaxContentSize ||
        container.Size() != regions.trailerOffset + regions.trailerLength) {
      return false;
    }
    const layout::HeaderBytes header = layout::EncodeHeader(type, input->Size());
    layout::HeaderBytes stored{};
    container.ReadAt(0, stored.data(), stored.size());
    if (stored != header) return false;
    // The body as encapsulating the input writes it, compared chunk by chunk with the stored one.
    const Encipherment encipherment = FactsOf(type).encipherment;
    AesCipher cipher = ContainerCipher(key);
    // Every chunk is enciphered and compared, whatever the earlier ones gave, and in constant
    // time: how much of the content matches must not show in the time taken.
    unsigned differs = 0;
    std::vector<std::uint8_t> storedChunk;
    const ChunkStep encipherAndCompare = [&](Chunk& chunk) {
      if (encipherment == Encipherment::kBody) {
        // In place, a final partial block stays as it was: the clear tail.
        cipher.Encrypt(chunk.data, chunk.data, chunk.count, CBC);
      } else if (encipherment == Encipherment::kNameBlock && chunk.position == 0) {
        const layout::NameBlock enciphered = CipherNameBlock(nameBlock, key, true);
        std::memcpy(chunk.data, enciphered.data(), enciphered.size());
      }
      storedChunk.resize(chunk.count);
      container.ReadAt(layout::kHeaderLength + chunk.position, storedChunk.data(), chunk.count);
      differs |=
          static_cast<unsigned>(!EqualInConstantTime(storedChunk.data(), chunk.data, chunk.count));
    };
    RunPipeline(BodyToEncapsulate(nameBlock, *input), {encipherAndCompare}, nullptr);
    return differs == 0;
  } catch (const InputFailure&) {
    return false;
  }
}

void Encapsulator::StageOnly(std::vector<DigestTail>& tails) { stagedTails = &tails; }

}  // namespace velador
