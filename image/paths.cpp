#include "image/paths.h"

#include <filesystem>

#include "platform/platform.h"

namespace velador {

namespace {

bool EndsWithSlash(std::string_view path) { return !path.empty() && path.back() == '/'; }

}  // namespace

std::string_view NameOf(std::string_view path) {
  const std::size_t separator = path.find_last_of("/\\");
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (!EndsWithSlash(path)) path += '/';
  path += name;
  return path;
}

std::string DiscFolderOf(std::string_view image) { return JoinPath(image, kDiscFolderName); }

std::string ResultPathFor(std::string_view output, std::string_view name, bool intoDisc) {
  return JoinPath(intoDisc ? DiscFolderOf(output) : std::string(output), name);
}

std::string TablePathOfImage(std::string_view image) { return JoinPath(image, kTablePathInImage); }

std::string_view ImageOfContainer(std::string_view containerPath) {
  const std::size_t last = containerPath.find_last_of("/\\");
  if (last == std::string_view::npos || last == 0) return {};
  const std::size_t previous = containerPath.find_last_of("/\\", last - 1);
  return previous == std::string_view::npos ? std::string_view()
                                            : containerPath.substr(0, previous);
}

std::string TablePathOfContainer(std::string_view containerPath) {
  return std::string(ImageOfContainer(containerPath)) + std::string(kTableSuffix);
}

std::string ImageOfTable(std::string_view tablePath) {
  if (tablePath == kTablePathInImage) return ".";
  const std::string_view suffix = kTableSuffix;
  if (tablePath.size() >= suffix.size() &&
      tablePath.substr(tablePath.size() - suffix.size()) == suffix) {
    tablePath.remove_suffix(suffix.size());
  }
  return std::string(tablePath);
}

bool FolderIsInside(const std::string& path, const std::string& folder) {
  std::error_code error;
  std::filesystem::path at = std::filesystem::absolute(path, error);
  if (error) return false;
  for (;;) {
    if (std::filesystem::equivalent(at, folder, error)) return true;
    const std::filesystem::path parent = at.parent_path();
    if (parent == at || parent.empty()) return false;
    at = parent;
  }
}

bool IsInImageTableFolder(const std::string& path) {
  std::string folder(path.substr(0, path.size() - NameOf(path).size()));
  const std::string table =
      JoinPath(folder.empty() ? std::string(".") : folder, NameOf(kTablePathInImage));
  while (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  return SameNameText(NameOf(folder.empty() ? std::string(".") : folder), kTableFolderName) &&
         platform::KindOf(table.c_str()) != platform::EntryKind::kNone;
}

bool IsReservedName(std::string_view name) { return name.rfind(".velador-", 0) == 0; }

bool SamePathText(std::string_view first, std::string_view second) {
  // Separators "/" and "\" count as one, letters as FoldAlike folds them.
  const auto fold = [](char c) { return c == '\\' ? '/' : FoldLetter(c); };
  if (first.size() != second.size()) return false;
  for (std::size_t i = 0; i < first.size(); ++i) {
    if (fold(first[i]) != fold(second[i])) return false;
  }
  return true;
}

bool SameNameText(std::string_view first, std::string_view second) {
  return FoldAlike(first, second);
}

bool NameMatchesPattern(std::string_view pattern, std::string_view name) {
  const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  // The usual greedy walk: on a mismatch, the last "*" takes one character more.
  std::size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || fold(pattern[p]) == fold(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace velador
