// Encryption: the name block and the content are enciphered together in one CBC run from a zero
// chain. The last (content size mod 16) bytes do not fill a cipher block and are stored in
// clear after the enciphered ones.

#include "crypto/aes_cipher.h"
#include "encapsulation/operation_frame.h"

namespace velador {

void Encapsulator::EncapsulateEncryption(const Key& key) {
  Announce(messages::kAnnounceEncapsulateEncryption);
  bool done = Produce([&](InputFile& input, ResultFile& result) {
    WriteHeader(result, layout::kEncryptionCode, input.Size());
    AesCipher cipher = ContainerCipher(key);
    // Enciphering in place leaves a final partial block as it was: the clear tail.
    StreamBody(nameBlock, input, input.Size(), [&](std::uint8_t* data, std::size_t count) {
      cipher.Encrypt(data, data, count, CBC);
      result.Write(data, count);
    });
  });
  if (!done) return;
  PrintEncapsulated();
  PrintKeyReport(messages::kFileEnciphered, key);
}

void Encapsulator::DecapsulateEncryption(const Key& key) {
  Announce(messages::kAnnounceDecapsulateEncryption);
  NameBlock stored{};
  bool done = Produce([&](InputFile& input, ResultFile& result) {
    // Without a size field to trust, the enciphered part is every whole block after the header.
    std::uint64_t storedBody = input.Size() - layout::kHeaderLength;
    std::uint64_t enciphered = layout::EncipheredLength(storedBody);
    BodySink sink(stored, result);
    RestoreEncipheredBody(input, key, enciphered, storedBody, sink);
  });
  if (!done) return;
  PrintDecapsulated();
  PrintDecipheredKey(messages::kDecipheredNoColon, key);
  PrintEncipheredNameVerdict(NamesMatch(stored, nameBlock));
  console.LineEnds(4);
}

}  // namespace velador
