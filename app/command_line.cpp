#include "app/command_line.h"

#include <cstring>

#include "app/render.h"
#include "app/texts.h"

namespace velador {

namespace {

// Reads the option words. False, with the reason printed, when the run ends here.
bool ParseOptions(int argc, const char* const* argv, Request& request, Console& console) {
  bool proceed = true;
  switch (OptionLetter(argv[1])) {
    case 'e':
      request.direction = Direction::kEncapsulate;
      break;
    case 'd':
      request.direction = Direction::kDecapsulate;
      break;
    default:
      console.ErrorBlock({texts::kFirstWordError});
      proceed = false;
  }
  // A decapsulation has no destination word.
  const int shift = request.direction == Direction::kDecapsulate ? 1 : 0;
  if (argc != 5 - shift && argc != 6 - shift) {
    PrintHelp(console);
    return false;
  }
  if (request.direction == Direction::kEncapsulate) {
    switch (OptionLetter(argv[2])) {
      case 'd':
        request.forDisc = true;
        break;
      case 'p':
        request.forDisc = false;
        break;
      default:
        console.ErrorBlock({texts::kSecondWordError});
        proceed = false;
    }
  }
  return proceed;
}

// Copies a path argument; one too long for a path buffer ends the run.
bool CopyPath(const char* argument, PathBuffer& buffer, Console& console) {
  std::size_t size = std::strlen(argument);
  if (size > kMaxPathLength) {
    console.ErrorBlock({texts::kPathTooLong});
    return false;
  }
  SetPath(buffer, {argument, size});
  return true;
}

bool CopyPathArguments(int argc, const char* const* argv, const Request& request, RunPaths& paths,
                       Console& console) {
  const bool decapsulate = request.direction == Direction::kDecapsulate;
  const char* const* words = argv + (decapsulate ? 2 : 3);
  const bool keyGiven = argc == (decapsulate ? 5 : 6);
  return CopyPath(words[0], paths.input, console) && CopyPath(words[1], paths.output, console) &&
         (!keyGiven || CopyPath(words[2], paths.key, console));
}

}  // namespace

char OptionLetter(const char* word) {
  if (word[0] == '\0' || word[1] == '\0') return '\0';
  return FoldLetter(word[1]);
}

bool ParseCommandLine(int argc, const char* const* argv, Request& request, RunPaths& paths,
                      Console& console) {
  return ParseOptions(argc, argv, request, console) &&
         CopyPathArguments(argc, argv, request, paths, console);
}

}  // namespace velador
