#pragma once

// velador-image's text output: the lines of every command in the texts of texts.h, through a
// Console. Its JSON documents are image_json.h's.

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

void RenderAddedFile(Console& console, const AddedFile& file);
void RenderAddSummary(Console& console, const ImageAdd& add, std::string_view image);

// A line for each part of the new image at `image`, made or found, and the summary.
void RenderInit(Console& console, const ImageInit& init, std::string_view image);

// The check's line of the file, and why it was not extracted when it was not.
void RenderExtractedFile(Console& console, const ExtractedFile& file, std::uint32_t tableCounter);
void RenderExtractSummary(Console& console, const ImageExtract& extract);

// A compaction or a removal: a line for each file removed, then one for each container of
// ADV_OBJ as it was left, the table's line and the summary.
// `quiet`: the summary alone, without a line for each file.
void RenderCompact(Console& console, const ImageCompact& compact, bool remove, bool quiet);

// A build of the image from a source folder, once it is over: when nothing was written (a dry
// run, or a file refused), a first line says so and that the lines tell what would be done;
// then a line per file, in the order of `build.files`, and the summary.
// `quiet`: only the lines of refused files, then the summary.
void RenderBuild(Console& console, const ImageBuild& build, bool quiet);

}  // namespace velador
