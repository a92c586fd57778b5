// check-image: checks every container of a disc image (or of a persistent-storage folder) as a
// player would, through the velador libraries, and prints one verdict a line and the table's
// state. Exit status: 0 when every file is accepted and the table is sound, 1 when not, 2
// when the check could not be made.
//
//   check-image <disc image> [<key file>]

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "encapsulation/container_types.h"
#include "image/check.h"

namespace {

std::string_view TypeName(const std::optional<velador::ContainerType>& type) {
  if (!type) return "-";
  switch (*type) {
    case velador::ContainerType::kEncryption:
      return "Encryption";
    case velador::ContainerType::kEncryptionHash:
      return "Encryption-and-Hash";
    case velador::ContainerType::kMac:
      return "MAC";
    case velador::ContainerType::kHash:
      return "Hash";
    case velador::ContainerType::kNonProtected:
      return "Non-Protected";
  }
  return "?";
}

std::string_view VerdictName(velador::FileVerdict verdict) {
  switch (verdict) {
    case velador::FileVerdict::kAccepted:
      return "accepted";
    case velador::FileVerdict::kRefused:
      return "refused";
    case velador::FileVerdict::kNotChecked:
      return "not checked";
  }
  return "?";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: check-image <disc image> [<key file>]\n");
    return 2;
  }
  std::optional<std::string> key;
  if (argc == 3) key = argv[2];

  velador::ImageCheck check;
  const velador::ImageError<velador::ImageCheckError> error =
      velador::CheckImage(argv[1], key, {}, check);
  if (error) {
    std::fprintf(stderr, "check-image: no check of %s (error %d)\n", error.path.c_str(),
                 static_cast<int>(error.code));
    return 2;
  }
  for (const velador::CheckedFile& file : check.files) {
    std::printf("%-12s %s (%s)\n", std::string(VerdictName(file.verdict)).c_str(),
                file.name.c_str(), std::string(TypeName(file.type)).c_str());
  }
  const velador::TableFindings& table = check.table;
  if (table.present) {
    std::printf("table        %s: counter %u, findings %d\n", table.path.c_str(), table.counter,
                table.Count(check.files));
  }
  const int status = check.NeedsAttention() ? 1 : 0;
  std::printf("files: %zu, exit status %d\n", check.files.size(), status);
  return status;
}
