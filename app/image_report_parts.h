#pragma once

// What velador-image's text and its JSON documents share (internal to the program): the words
// of a file's reason, as its line gives them, and the counts of a summary. Both reports say the
// same thing because both take it from here.

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/texts.h"
#include "image/add.h"
#include "image/build.h"
#include "image/check.h"
#include "image/compact.h"
#include "image/extract.h"

namespace velador::report {

struct ExtractCounts {
  std::uint64_t extracted = 0;
  std::uint64_t accepted = 0;
  std::uint64_t refused = 0;
  std::uint64_t notChecked = 0;
};

struct BuildCounts {
  std::uint64_t added = 0;
  std::uint64_t replaced = 0;
  std::uint64_t removed = 0;
  std::uint64_t kept = 0;
  std::uint64_t refused = 0;
};

void Reason(Console& console, const CheckedFile& file, std::uint32_t counter);

std::uint64_t CountOf(const std::vector<CheckedFile>& files, FileVerdict verdict);

texts::Text AddReasonText(AddReason reason);

// The Catalan reason of an added file's line, as it follows ": ".
void AddReasonLine(Console& console, const AddedFile& file);

// Why a file was not extracted, as it follows "NO EXTRET: "; nothing for a file the check
// stopped at, whose reason its line already gives.
void ExtractReasonLine(Console& console, const ExtractedFile& file);

ExtractCounts CountsOf(const ImageExtract& extract);

BuildCounts CountsOf(const ImageBuild& build);

std::uint64_t AddedCount(const ImageAdd& add);

// What `print` writes through a console, as UTF-8.
template <class Print>
std::string Rendered(Print&& print) {
  std::ostringstream text;
  Console console(text, TextEncoding::kUtf8, NameBytes::kUtf8);
  print(console);
  return text.str();
}

}  // namespace velador::report
