#pragma once

// velador-image's JSON documents, one for each command, with the same findings as its text.
//
// A document is UTF-8 whatever the console: texts are converted from Windows-1252, and a file
// name is written as it is when its bytes are valid UTF-8, otherwise read as Windows-1252
// ("name_is_utf8": false then says so). Units and entries are numbered from 1. `version` is the
// program's.

#include <cstdint>
#include <ostream>
#include <string_view>

#include "image/add.h"
#include "image/build.h"
#include "image/check.h"
#include "image/compact.h"
#include "image/extract.h"
#include "image/init.h"

namespace velador {

// The version of each JSON document's layout, its first member "schema_version", one per
// command: raised when a member changes its meaning or goes, not when one is added (readers
// ignore the members they do not know; doc/json.md). Members added before that rule took
// check's to 2 (the key verdict, the mismatched units, the stored name), extract's (the
// summary's key verdict) and build's (the names left out). doc/schema/<command>.schema.json
// states each layout exactly: a document changed here changes its schema too.
inline constexpr std::uint64_t kCheckSchemaVersion = 2;
inline constexpr std::uint64_t kAddSchemaVersion = 1;
inline constexpr std::uint64_t kInitSchemaVersion = 1;
inline constexpr std::uint64_t kExtractSchemaVersion = 2;
inline constexpr std::uint64_t kCompactSchemaVersion = 1;  // compact's and remove's
inline constexpr std::uint64_t kBuildSchemaVersion = 2;

void WriteCheckJson(std::ostream& out, const ImageCheck& check, std::string_view version);

// The JSON document of an add to the disc image `image`.
void WriteAddJson(std::ostream& out, const ImageAdd& add, std::string_view image,
                  std::string_view version);

void WriteInitJson(std::ostream& out, const ImageInit& init, std::string_view image,
                   std::string_view version);
void WriteExtractJson(std::ostream& out, const ImageExtract& extract, std::string_view version);
// The document of `command` ("compact" or "remove"; only remove's has "removed").
void WriteCompactJson(std::ostream& out, const ImageCompact& compact, std::string_view command,
                      std::string_view image, std::string_view version);
// The document of a build from `source` into `image`, as the command line named them.
void WriteBuildJson(std::ostream& out, const ImageBuild& build, std::string_view source,
                    std::string_view image, std::string_view version);

}  // namespace velador
