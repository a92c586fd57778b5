#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "encapsulation/container_types.h"
#include "image/image_reader.h"

namespace velador {

// The key kept in the file at `path`, as velador reads it: its first 16 bytes, zero bytes
// standing in for those a shorter file lacks. Only a regular file is read, since a pipe or a
// device could keep the run waiting forever. None when it does not open or cannot be read.
std::optional<Key> ReadKeyFile(const std::string& path);

// What is wrong with a key file for a whole image, where one wrong byte of key would encipher
// every file wrongly: such a file holds the 16 bytes of the key and nothing else.
enum class KeyFileProblem : std::uint8_t {
  kNone,
  kStandardInput,  // "-": the key is not read from the standard input
  kUnopenable,     // no regular file opens there, or it cannot be read
  kHexText,        // 32 hexadecimal digits (maybe with a line end): the key written as text
  kWrongLength,    // any other length than 16 bytes
};

// The key in the file at `path` for a command on a whole image, and what is wrong with the
// file when it does not hold exactly the 16 bytes of a key (the key is then not set).
KeyFileProblem ReadImageKeyFile(const std::string& path, Key& key);

// The same, for a caller that needs only the key: none when the file has a problem.
std::optional<Key> ReadImageKey(const std::string& path);

// Whether the file at `path` (a file of an image) is a container whose type enciphers its name
// and `key` deciphers that name (see KeyDeciphersName); none when the file tells nothing: not
// such a container, or unreadable. Read through `files` when given.
std::optional<bool> KeyDeciphersNameOf(const std::string& path, const Key& key,
                                       const FilesToRead* files = nullptr);

// How `key` fits the files of an image whose ADV_OBJ is `discFolder`.
enum class KeyFit : std::uint8_t {
  kNothingToTell,  // no file there has a name enciphered under a key
  kFits,           // the key deciphers the name of at least one
  kFitsNone,       // it deciphers the name of none: the image was made under another key
};

// Tells how `key` fits the image by the name-block test of its containers whose type enciphers
// the name (see KeyDeciphersName): a few hundred bytes read of each, up to the first that fits.
// Files that cannot be read, temporary files and MAC containers tell nothing. Read through
// `reader` when given (an image file), else from the image's folder.
KeyFit KeyFitOfImage(const std::string& discFolder, const Key& key,
                     const ImageReader* reader = nullptr);

}  // namespace velador
