// Non-Protected: the content stays in clear; only the name block is enciphered (CBC from a zero
// chain), so that a player can tell whether the container still bears the name it was made for.

#include "crypto/aes_cipher.h"
#include "encapsulation/operation_frame.h"

namespace velador {

namespace {

NameBlock CipherNameBlock(const NameBlock& in, const Key& key, bool encipher) {
  AesCipher cipher = ContainerCipher(key);
  NameBlock out{};
  if (encipher) {
    cipher.Encrypt(in.data(), out.data(), in.size(), CBC);
  } else {
    cipher.Decrypt(in.data(), out.data(), in.size(), CBC);
  }
  return out;
}

}  // namespace

void Encapsulator::EncapsulateNonProtected(const Key& key) {
  Announce(messages::kAnnounceEncapsulateNonProtected);
  bool done = Produce([&](InputFile& input, ResultFile& result) {
    WriteHeader(result, layout::kNonProtectedCode, input.Size());
    NameBlock enciphered = CipherNameBlock(nameBlock, key, true);
    result.Write(enciphered.data(), enciphered.size());
    StreamRange(input, 0, input.Size(),
                [&](std::uint8_t* data, std::size_t count) { result.Write(data, count); });
  });
  if (!done) return;
  PrintEncapsulated();
  PrintKeyReport(messages::kNameEnciphered, key);
}

void Encapsulator::DecapsulateNonProtected(const Key& key) {
  Announce(messages::kAnnounceDecapsulateNonProtected);
  NameBlock stored{};
  bool done = Produce([&](InputFile& input, ResultFile& result) {
    input.ReadAt(layout::kNameBlockOffset, stored.data(), stored.size());
    StreamRange(input, layout::kContentOffset, input.Size() - layout::kContentOffset,
                [&](std::uint8_t* data, std::size_t count) { result.Write(data, count); });
  });
  if (!done) return;
  PrintDecapsulated();
  PrintEncipheredNameVerdict(NamesMatch(CipherNameBlock(stored, key, false), nameBlock));
}

}  // namespace velador
