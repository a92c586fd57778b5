// MAC: name block and content in clear, followed by the AES-CMAC of both (the 11 header bytes
// are not covered).

#include "crypto/aes_mac.h"
#include "encapsulation/operation_frame.h"

namespace velador {

void Encapsulator::EncapsulateMac(const Key& key) {
  Announce(messages::kAnnounceEncapsulateMac);
  std::uint8_t tag[layout::kMacLength] = {};
  bool done = Produce([&](InputFile& input, ResultFile& result) {
    WriteHeader(result, layout::kMacCode, input.Size());
    AesMac mac;
    mac.Begin(key.data());
    StreamBody(nameBlock, input, input.Size(), [&](std::uint8_t* data, std::size_t count) {
      mac.Update(data, count);
      result.Write(data, count);
    });
    mac.Finish(tag);
    result.Write(tag, sizeof tag);
  });
  if (!done) return;
  PrintEncapsulated();
  console.LineEnds();
  console.Text(messages::kMacObtained);
  console.LineEnds();
  console.ByteDump(tag, messages::kMacDumpIndent);
  console.LineEnds(4);
}

void Encapsulator::DecapsulateMac(const Key& key) {
  Announce(messages::kAnnounceDecapsulateMac);
  NameBlock stored{};
  bool macMatches = false;
  bool done = Produce([&](InputFile& input, ResultFile& result) {
    std::uint64_t tagOffset = input.Size() - layout::kMacLength;
    AesMac mac;
    mac.Begin(key.data());
    BodySink sink(stored, result);
    StreamRange(input, layout::kHeaderLength, tagOffset - layout::kHeaderLength,
                [&](std::uint8_t* data, std::size_t count) {
                  mac.Update(data, count);
                  sink(data, count);
                });
    std::uint8_t computed[layout::kMacLength];
    std::uint8_t kept[layout::kMacLength];
    mac.Finish(computed);
    input.ReadAt(tagOffset, kept, sizeof kept);
    macMatches = std::equal(std::begin(kept), std::end(kept), computed);
  });
  if (!done) return;
  PrintStoredVerdicts(macMatches ? messages::kMacMatches : messages::kMacDiffers, macMatches,
                      NamesMatch(stored, nameBlock));
}

}  // namespace velador
