#pragma once

// velador-image's output: the lines of a check or an add in the texts of texts.h, through a
// Console, and the JSON documents of a check and of an add.
//
// The JSON document is UTF-8 whatever the console: texts are converted from Windows-1252, and a
// file name is written as it is when its bytes are valid UTF-8, otherwise read as
// Windows-1252 ("name_is_utf8": false then says so). Units and entries are numbered from 1.

#include <cstdint>
#include <ostream>
#include <string_view>

#include "app/console.h"
#include "app/image_command_line.h"
#include "image/add.h"
#include "image/build.h"
#include "image/check.h"
#include "image/compact.h"
#include "image/extract.h"
#include "image/init.h"

namespace velador {

void PrintImageUsage(Console& console);

// "velador-image: ERROR: <text><word>", with a hint at the help for a usage error.
void PrintImageError(Console& console, texts::Text text, std::string_view word, bool usage);

// `tableCounter` is the counter of the image's table, which some reasons name.
void RenderCheckedFile(Console& console, const CheckedFile& file, std::uint32_t tableCounter);

// The table's lines, the summary and the verdict on the whole folder.
void RenderCheckEnd(Console& console, const ImageCheck& check);

// The version of each JSON document's layout, its first member "schema_version": raised when a
// member changes its meaning or goes, and when members are added (the check's document gained
// the key verdict, the mismatched units and the stored name in its second version).
inline constexpr std::uint64_t kCheckSchemaVersion = 2;
inline constexpr std::uint64_t kAddSchemaVersion = 1;
inline constexpr std::uint64_t kInitSchemaVersion = 1;
inline constexpr std::uint64_t kExtractSchemaVersion = 1;
inline constexpr std::uint64_t kCompactSchemaVersion = 1;  // compact's and remove's
inline constexpr std::uint64_t kBuildSchemaVersion = 1;

void WriteCheckJson(std::ostream& out, const ImageCheck& check, std::string_view version);

void RenderAddedFile(Console& console, const AddedFile& file);
void RenderAddSummary(Console& console, const ImageAdd& add, std::string_view image);

// The JSON document of an add to the disc image `image`.
void WriteAddJson(std::ostream& out, const ImageAdd& add, std::string_view image,
                  std::string_view version);

// A line for each part of the new image at `image`, made or found, and the summary.
void RenderInit(Console& console, const ImageInit& init, std::string_view image);
void WriteInitJson(std::ostream& out, const ImageInit& init, std::string_view image,
                   std::string_view version);

// The check's line of the file, and why it was not extracted when it was not.
void RenderExtractedFile(Console& console, const ExtractedFile& file, std::uint32_t tableCounter);
void RenderExtractSummary(Console& console, const ImageExtract& extract);
void WriteExtractJson(std::ostream& out, const ImageExtract& extract, std::string_view version);

// A compaction or a removal: a line for each file removed, then one for each container of
// ADV_OBJ as it was left, the table's line and the summary.
// `quiet`: the summary alone, without a line for each file.
void RenderCompact(Console& console, const ImageCompact& compact, bool remove, bool quiet);
// The document of `command` ("compact" or "remove"; only remove's has "removed").
void WriteCompactJson(std::ostream& out, const ImageCompact& compact, std::string_view command,
                      std::string_view image, std::string_view version);

// A build of the image from a source folder, once it is over: when nothing was written (a dry
// run, or a file refused), a first line says so and that the lines tell what would be done;
// then a line per file, in the order of `build.files`, and the summary.
// `quiet`: only the lines of refused files, then the summary.
void RenderBuild(Console& console, const ImageBuild& build, bool quiet);
// The document of a build from `source` into `image`, as the command line named them.
void WriteBuildJson(std::ostream& out, const ImageBuild& build, std::string_view source,
                    std::string_view image, std::string_view version);

}  // namespace velador
