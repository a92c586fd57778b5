#pragma once

// Where the parts of a disc image lie, and how both programs compose and compare the paths that
// lead to them. Every path a program of the tool's writes into an image or reads from it is made
// here, so that both measure a path's length alike and refuse alike what they refuse.

#include <string>
#include <string_view>

#include "encapsulation/container_layout.h"

namespace velador {

// Where a disc image keeps its containers and its content hash table: the names inside the
// image's folder, without a leading or trailing "/".
inline constexpr std::string_view kDiscFolderName = "ADV_OBJ";
inline constexpr std::string_view kTablePathInImage = "AACS/CONTENT_HASH_TABLE2.AACS";
inline constexpr std::string_view kTableFolderName =
    kTablePathInImage.substr(0, kTablePathInImage.find('/'));
// The table's path from the image's folder on, with the separator before it.
inline constexpr std::string_view kTableSuffix = "/AACS/CONTENT_HASH_TABLE2.AACS";
static_assert(kTableSuffix.substr(1) == kTablePathInImage && kTableFolderName == "AACS");

// The file's own name: everything after the last "/" or "\" of the whole path, blanks included.
std::string_view NameOf(std::string_view path);

// `folder`, then `name` after a "/" unless `folder` already ends in one. Only "/" counts: a
// folder ending in "\" gets a "/" after it, which every system the tool runs on reads as the
// same folder. An empty folder is no exception: "" and "x" give "/x", the root's "x", as
// velador has always composed it; a program that means the current folder says ".".
std::string JoinPath(std::string_view folder, std::string_view name);

// The folder the containers of the image at `image` lie in: `image`/ADV_OBJ.
std::string DiscFolderOf(std::string_view image);

// Where the encapsulation of a file called `name` is written: `output`/ADV_OBJ/`name` into a
// disc image (`intoDisc`), `output`/`name` otherwise (persistent storage, or a decapsulation).
std::string ResultPathFor(std::string_view output, std::string_view name, bool intoDisc);

// The content hash table of the image at `image`: `image`/AACS/CONTENT_HASH_TABLE2.AACS.
std::string TablePathOfImage(std::string_view image);

// The image a container at `containerPath` lies in (`X/disc/ADV_OBJ/name` gives `X/disc`): the
// path cut before its second-to-last separator, "/" or "\"; empty with fewer than two.
std::string_view ImageOfContainer(std::string_view containerPath);

// The table of the image a container lies in: ImageOfContainer, then the table's place.
std::string TablePathOfContainer(std::string_view containerPath);

// The image whose table is at `tablePath` (as TablePathOfImage or TablePathOfContainer made it):
// the path without the table's place.
std::string ImageOfTable(std::string_view tablePath);

// Whether the folder at `path` is the folder at `folder` or lies anywhere under it, however the
// two are spelt (relative or absolute, through links, letters of either case where the system
// folds them).
bool FolderIsInside(const std::string& path, const std::string& folder);

// Whether a file written to `path` would land in a disc image's AACS folder, beside its table
// and records: no command writes there.
bool IsInImageTableFolder(const std::string& path);

// Whether `name` is one the tools keep for their own files in a folder (".velador-" and
// anything after it: temporary files, records): never a file of an image, never added to one,
// and what a clean-up may remove.
bool IsReservedName(std::string_view name);

// Equal as text, with the letters A to Z in either case and "/" and "\" taken as one character:
// the paths a system that folds letters takes for one file, whatever this system does.
bool SamePathText(std::string_view first, std::string_view second);

// Equal as names, the letters A to Z in either case: two files of one image's ADV_OBJ that a
// disc or a system that folds letters could not tell apart.
bool SameNameText(std::string_view first, std::string_view second);

// Whether `name` matches the glob `pattern`: "*" stands for any run of characters (none too),
// "?" for any one, every other character for itself, the letters A to Z in either case (a name
// a disc or Windows folds is left out however its letters were typed).
bool NameMatchesPattern(std::string_view pattern, std::string_view name);

}  // namespace velador
