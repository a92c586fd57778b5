#pragma once

// Encapsulator: wraps one file into a container or restores one from a container, and answers
// what it did and whether a player would accept the result.
//
// Every operation reads its input, writes its result under a temporary name, renames it into
// place when it is complete and returns its report. When a read or a write fails the report
// names the failure, and any earlier file at the result path is left untouched. Operations
// print nothing.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "encapsulation/container_layout.h"
#include "encapsulation/container_types.h"
#include "encapsulation/report.h"

namespace velador {

class HashTableWriter;
class ResultFile;
class SpooledBytes;

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
  // Answers the failure, if any. The table, if entries were added to it, keeps them only when
  // the result was put in place; either way it is released only after that.
  template <class Work>
  Failure Produce(Work&& work);

  OperationReport StartReport(ContainerType type, Direction direction, const Key& key) const;

  // Hands out the number of the next entry of the content hash table, or 0 when the table is
  // full or cannot be updated; the first such refusal is noted in `report` and sets `full`, and
  // while `full` is set nothing more is handed out. From the first call until the run ends the
  // table stays locked.
  std::uint32_t AddHashTableEntry(bool& full, OperationReport& report);

  // Registers the units whose digest tails `unitTails` holds in order (`fullUnits` whole ones, then
  // a short one when `shortLastUnit`) as far as the table takes them: puts the body written so far
  // on the disk, writes the trailer to `result` (one number per unit tried, 0 for a unit that got
  // no entry) and puts it on the disk too, then adds the entries to the table. When the entries
  // cannot be written, the table is put back, the event is noted and the trailer holds zeros. The
  // report keeps the tail of the last unit tried.
  void RegisterUnits(ResultFile& result, SpooledBytes& unitTails, std::uint64_t fullUnits,
                     bool shortLastUnit, OperationReport& report);

  const OperationPaths paths;
  const layout::NameBlock nameBlock;  // in clear, as the name of the file it belongs to
  std::unique_ptr<HashTableWriter> tableWriter;
};

}  // namespace velador
