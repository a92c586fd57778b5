#pragma once

// Encapsulator: wraps one file into a container or restores one from a container, and reports
// on the console what it did and whether a player would accept the result.
//
// The front end builds one object per run, after it has checked the input and the output
// location, calls exactly one operation and destroys it. Every operation announces itself,
// reads its input, writes its result under a temporary name and renames it into place when it
// is complete, then prints its report. When a read or a write fails it prints an error block
// instead of the report and leaves any earlier file at the result path untouched.

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "encapsulation/console.h"
#include "encapsulation/container_layout.h"
#include "io/checked_file.h"
#include "encapsulation/path_buffer.h"

namespace velador {

using Key = std::array<std::uint8_t, 16>;
using NameBlock = std::array<std::uint8_t, layout::kNameBlockLength>;
using EntryNumber = std::array<std::uint8_t, layout::kEntryNumberLength>;
using DigestTail = std::array<std::uint8_t, layout::kDigestTailLength>;

class HashTableWriter;

class Encapsulator {
 public:
  // Keeps references to the three path buffers, which must outlive the object; builds the name
  // block from `fileName` (at most 267 characters) and prints the result path.
  Encapsulator(const PathBuffer& inputPath, const PathBuffer& resultPath,
               const PathBuffer& tablePath, const PathBuffer& fileName, Console& console);
  virtual ~Encapsulator();

  Encapsulator(const Encapsulator&) = delete;
  Encapsulator& operator=(const Encapsulator&) = delete;

  void EncapsulateNonProtected(const Key& key);
  void DecapsulateNonProtected(const Key& key);
  void EncapsulateEncryption(const Key& key);
  void DecapsulateEncryption(const Key& key);
  void EncapsulateMac(const Key& key);
  void DecapsulateMac(const Key& key);
  void EncapsulateHash();
  void DecapsulateHash();
  void EncapsulateEncryptionHash(const Key& key);
  void DecapsulateEncryptionHash(const Key& key);

  const NameBlock& GetNameBlock() const { return nameBlock; }

 private:
  // Adds one entry holding `digestTail` (8 bytes) to the content hash table and stores its
  // number in `number`. When the table is full, or cannot be updated, it prints why, sets
  // `full` and leaves `number` alone; while `full` is set it adds nothing. The entries reach the
  // table file only through CommitHashTable, all together; from the first reading of the
  // counter until then the table stays locked.
  void AddHashTableEntry(EntryNumber& number, const std::uint8_t* digestTail, bool& full);

  // Runs `work` with the input open and a new result file, then puts the result in place.
  // Prints the read or write error block and answers false when anything failed.
  template <class Work>
  bool Produce(Work&& work);

  void Announce(std::string_view text);
  void WriteHeader(ResultFile& result, layout::TypeCode code, std::uint64_t contentSize);

  // Report pieces shared by the types.
  void PrintEncapsulated();
  void PrintKeyReport(std::string_view title, const Key& key);
  void PrintDecapsulated();
  void PrintDecipheredKey(std::string_view title, const Key& key);
  void PrintVerdict(std::string_view text);
  void PrintEncipheredNameVerdict(bool nameMatches);
  void PrintStoredVerdicts(std::string_view checkVerdict, bool checkPassed, bool nameMatches);
  void PrintUnitVerdicts(bool hashesMatch, std::uint64_t unitsChecked, bool nameMatches);
  void PrintUnitTableMissing();

  // Adds the units' digest tails to the table as far as it takes them and answers the trailer:
  // one number per unit tried (0 for a unit that got no entry). `lastTried` receives the tail
  // of the last unit tried.
  std::vector<EntryNumber> RegisterUnits(const std::vector<DigestTail>& unitTails,
                                         bool shortLastUnit, DigestTail& lastTried);

  // Writes the entries added since the operation began and releases the table. False, with
  // the message printed, when they could not be written: the numbers handed out are void.
  bool CommitHashTable();

  // The table opened for reading, or null when no readable file stands at the table path.
  UniqueFile OpenTableForLookup() const;

  NameBlock nameBlock{};
  const PathBuffer& inputPath;
  const PathBuffer& resultPath;
  const PathBuffer& tablePath;
  Console& console;
  std::unique_ptr<HashTableWriter> tableWriter;
};

}  // namespace velador
