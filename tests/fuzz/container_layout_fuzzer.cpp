// The container format module alone: any header bytes and any file length must give regions
// that lie inside the file and add up, or no regions at all.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "encapsulation/container_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace velador;
  // The first eight bytes, when there, give the file length; the rest is the header.
  std::uint64_t fileSize = size;
  if (size >= 8) {
    std::memcpy(&fileSize, data, 8);
    data += 8;
    size -= 8;
  }
  const layout::HeaderFields header = layout::DecodeHeader(data, size);
  if (header.contentSize && size < layout::kHeaderLength) std::abort();
  for (const TypeFacts& facts : AllTypes()) {
    const auto regions = layout::LocateRegions(facts.type, fileSize, header.contentSize);
    if (!regions) continue;
    if (regions->trailerOffset != layout::kHeaderLength + regions->bodyLength) std::abort();
    if (regions->trailerOffset + regions->trailerLength != fileSize) std::abort();
    if (regions->trailerOffset > fileSize) std::abort();
    if (regions->bodyLength < layout::kNameBlockLength) std::abort();
    if (regions->encipheredLength > regions->bodyLength) std::abort();
    if (header.contentSize) {
      const layout::Regions written = layout::RegionsForContent(facts.type, *header.contentSize);
      if (facts.trailer == Trailer::kEntryPerUnit && written.bodyLength != regions->bodyLength) {
        std::abort();
      }
    }
  }
  return 0;
}
