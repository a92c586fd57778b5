#include "image/key_file.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

#include "encapsulation/container_layout.h"
#include "encapsulation/encapsulator.h"
#include "image/paths.h"
#include "io/checked_file.h"
#include "platform/platform.h"

namespace velador {

std::optional<Key> ReadKeyFile(const std::string& path) {
  UniqueFile file = OpenRegularFile(path);
  if (!file) return std::nullopt;
  Key key{};
  // A shorter file leaves zero bytes in the rest of the key; only a failed read refuses it.
  const std::size_t read = std::fread(key.data(), 1, key.size(), file.get());
  if (read < key.size() && std::ferror(file.get())) return std::nullopt;
  return key;
}

namespace {

// Whether `bytes` are 32 hexadecimal digits, maybe followed by a line end ("\n" or "\r\n").
bool IsHexText(const std::uint8_t* bytes, std::size_t count) {
  while (count > 32 && (bytes[count - 1] == '\n' || bytes[count - 1] == '\r')) --count;
  return count == 32 && std::all_of(bytes, bytes + count,
                                    [](std::uint8_t byte) { return std::isxdigit(byte) != 0; });
}

}  // namespace

KeyFileProblem ReadImageKeyFile(const std::string& path, Key& key) {
  if (path == "-") return KeyFileProblem::kStandardInput;
  UniqueFile file = OpenRegularFile(path);
  if (!file) return KeyFileProblem::kUnopenable;
  // One byte more than a hex text with "\r\n" tells every length apart that matters here.
  std::array<std::uint8_t, 35> bytes{};
  const std::size_t read = std::fread(bytes.data(), 1, bytes.size(), file.get());
  if (std::ferror(file.get())) return KeyFileProblem::kUnopenable;
  if (read == key.size()) {
    std::copy_n(bytes.begin(), key.size(), key.begin());
    return KeyFileProblem::kNone;
  }
  return IsHexText(bytes.data(), read) ? KeyFileProblem::kHexText : KeyFileProblem::kWrongLength;
}

std::optional<bool> KeyDeciphersNameOf(const std::string& path, const Key& key,
                                       const FilesToRead* files) {
  std::array<std::uint8_t, layout::kContentOffset> start{};
  try {
    OpenToRead(files, path, nullptr, platform::kImageFile)->ReadAt(0, start.data(), start.size());
  } catch (const InputFailure&) {
    return std::nullopt;
  }
  const layout::HeaderFields header = layout::DecodeHeader(start.data(), layout::kHeaderLength);
  const std::optional<ContainerType> type =
      header.hasMagic && header.typeCode ? TypeOfCode(*header.typeCode) : std::nullopt;
  if (!type || FactsOf(*type).encipherment == Encipherment::kNothing) return std::nullopt;
  layout::NameBlock stored{};
  std::copy_n(start.begin() + layout::kHeaderLength, stored.size(), stored.begin());
  return KeyDeciphersName(stored, key);
}

KeyFit KeyFitOfImage(const std::string& discFolder, const Key& key, const ImageReader* reader) {
  const FolderImageReader folder;
  if (reader == nullptr) reader = &folder;
  const auto names = reader->Entries(discFolder, platform::kImageFolder);
  if (!names) return KeyFit::kNothingToTell;
  KeyFit fit = KeyFit::kNothingToTell;
  for (const std::string& name : *names) {
    if (IsTemporaryName(name)) continue;
    const std::optional<bool> deciphers =
        KeyDeciphersNameOf(JoinPath(discFolder, name), key, reader);
    if (!deciphers) continue;
    if (*deciphers) return KeyFit::kFits;
    fit = KeyFit::kFitsNone;
  }
  return fit;
}

std::optional<Key> ReadImageKey(const std::string& path) {
  Key key{};
  if (ReadImageKeyFile(path, key) != KeyFileProblem::kNone) return std::nullopt;
  return key;
}

}  // namespace velador
