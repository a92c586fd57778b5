#pragma once

// Encapsulator: wraps one file into a container or restores one from a container, and answers
// what it did and whether a player would accept the result.
//
// Every operation reads its input, writes its result under a temporary name, renames it into
// place when it is complete and returns its report. When a read or a write fails the report
// names the failure, and any earlier file at the result path is left untouched. Operations
// print nothing.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "encapsulation/container_layout.h"
#include "encapsulation/container_types.h"
#include "encapsulation/report.h"

namespace velador {

class HashTableWriter;

struct OperationPaths {
  std::string input;   // the file to encapsulate, or the container to decapsulate
  std::string result;  // the file to write
  std::string table;   // the disc image's content hash table (hashed types only)
};

class Encapsulator {
 public:
  // `fileName` (at most 267 bytes) is the name the name block carries: the input's own name
  // when encapsulating, the container's own name when decapsulating.
  Encapsulator(OperationPaths paths, std::string_view fileName);
  virtual ~Encapsulator();

  Encapsulator(const Encapsulator&) = delete;
  Encapsulator& operator=(const Encapsulator&) = delete;

  OperationReport EncapsulateNonProtected(const Key& key);
  OperationReport DecapsulateNonProtected(const Key& key);
  OperationReport EncapsulateEncryption(const Key& key);
  OperationReport DecapsulateEncryption(const Key& key);
  OperationReport EncapsulateMac(const Key& key);
  OperationReport DecapsulateMac(const Key& key);
  OperationReport EncapsulateHash();
  OperationReport DecapsulateHash();
  OperationReport EncapsulateEncryptionHash(const Key& key);
  OperationReport DecapsulateEncryptionHash(const Key& key);

  // The operation of `type` in `direction`.
  OperationReport Run(ContainerType type, Direction direction, const Key& key);

 private:
  // Runs `work` with the input open and a new result file, then puts the result in place.
  // Answers the failure, if any; the table, if one was being updated, is released either way.
  template <class Work>
  Failure Produce(Work&& work);

  OperationReport StartReport(ContainerType type, Direction direction, const Key& key) const;

  // Adds one entry holding `digestTail` to the content hash table and answers its number, or
  // 0 when the table is full or cannot be updated; the first such refusal is noted in
  // `report` and sets `full`, and while `full` is set nothing more is added. The entries
  // reach the table file only through CommitHashTable, all together; from the first entry
  // until then the table stays locked.
  std::uint32_t AddHashTableEntry(const DigestTail& digestTail, bool& full,
                                  OperationReport& report);

  // Writes the entries added since the operation began and releases the table. False, with
  // the event noted in `report`, when they could not be written: the numbers handed out are
  // then void.
  bool CommitHashTable(OperationReport& report);

  // Adds the units' digest tails to the table as far as it takes them and answers the trailer:
  // one number per unit tried (0 for a unit that got no entry). The report keeps the tail of the
  // last unit tried.
  std::vector<std::uint32_t> RegisterUnits(const std::vector<DigestTail>& unitTails,
                                           bool shortLastUnit, OperationReport& report);

  const OperationPaths paths;
  const layout::NameBlock nameBlock;  // in clear, as the name of the file it belongs to
  std::unique_ptr<HashTableWriter> tableWriter;
};

}  // namespace velador
