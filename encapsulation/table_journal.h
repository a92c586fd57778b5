#pragma once

// The write-ahead record of a table transaction (internal to this library). A run that adds
// entries for a container writes it, and puts it on the disk, before the table changes; marks it
// sealed, on the disk, once the entries are there and just before the container is renamed into
// place; and removes it once the rename is on the disk. A run killed or cut off by a power
// failure anywhere in between leaves the record behind, and the next run that locks the table
// reads what to do: a record not sealed undoes the entries (the container never took its
// place), a sealed one completes the rename if it had not happened yet.

#include <cstdint>
#include <optional>
#include <string>

#include "encapsulation/content_hash_table.h"

namespace velador {

struct TableJournal {
  bool sealed = false;        // the entries are complete: the container goes in place
  std::uint64_t length = 0;   // of the table before the transaction
  std::uint32_t counter = 0;  // of the table before the transaction
  std::string temporaryName;  // the container's temporary file, in the image's ADV_OBJ
  std::string resultName;     // the container's own name there
};

// Where the record of the table at `tablePath` lies: beside it.
std::string JournalPathOf(const std::string& tablePath);

// Where the containers of the image whose table is at `tablePath` lie ("img/AACS/T" gives
// "img/ADV_OBJ/").
std::string DiscFolderOfTable(const std::string& tablePath);

// Writes the record in full and puts it, and its folder's record of it, on the disk. False, with
// nothing left behind, when any step failed.
bool WriteJournal(const std::string& path, const TableJournal& journal);

// Marks the record at `path` sealed (or, with `sealed` false, not sealed) on the disk: one byte,
// which the disk writes whole or not at all. False when the system refused.
bool SealJournal(const std::string& path, bool sealed);

// The record at `path`: none when there is none. A record cut short or damaged (the run was
// killed while writing it, before the table was touched) reads as `torn`.
std::optional<TableJournal> ReadJournal(const std::string& path, bool& torn);

// Removes the record and puts its folder's record of that on the disk, so that it cannot come
// back after a power failure and undo a later transaction. False when the system refused.
bool RemoveJournal(const std::string& path);

// The record of a change of a whole image (see LockedHashTable::Apply): the change in full, so
// that a sealed one can be made again from it alone. Written whole and put on the disk, then
// sealed with one byte, then dropped once every change is on the disk.
std::string ChangesPathOf(const std::string& tablePath);
bool WriteChanges(const std::string& path, const ImageChanges& changes);
std::optional<ImageChanges> ReadChanges(const std::string& path, bool& sealed, bool& torn);

}  // namespace velador
