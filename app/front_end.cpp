#include "app/front_end.h"

#include <cstdio>
#include <cstring>

#include "app/messages.h"
#include "encapsulation/encapsulator.h"
#include "io/checked_file.h"
#include "platform/platform.h"

namespace velador {

namespace {

// An option is told by its second character alone, folded to lower case; a word shorter than
// two characters is no option.
char OptionLetter(const char* word) {
  if (word[0] == '\0' || word[1] == '\0') return '\0';
  return FoldLetter(word[1]);
}

struct Arguments {
  bool encapsulate = true;
  bool forDisc = true;
  int shift = 0;  // a decapsulation has no destination word
};

// Reads the option words. False, with the reason printed, when the run ends here.
bool ParseOptions(int argc, const char* const* argv, Arguments& arguments, Console& console) {
  bool proceed = true;
  switch (OptionLetter(argv[1])) {
    case 'e':
      arguments.encapsulate = true;
      break;
    case 'd':
      arguments.encapsulate = false;
      arguments.shift = 1;
      break;
    default:
      console.ErrorBlock({messages::kFirstWordError});
      proceed = false;
  }
  if (argc != 5 - arguments.shift && argc != 6 - arguments.shift) {
    PrintHelp(console);
    return false;
  }
  if (arguments.encapsulate) {
    switch (OptionLetter(argv[2])) {
      case 'd':
        arguments.forDisc = true;
        break;
      case 'p':
        arguments.forDisc = false;
        break;
      default:
        console.ErrorBlock({messages::kSecondWordError});
        proceed = false;
    }
  }
  return proceed;
}

// Copies a path argument; one too long for a path buffer ends the run.
bool CopyPath(const char* argument, PathBuffer& buffer, int& length, Console& console) {
  std::size_t size = std::strlen(argument);
  if (size > kMaxPathLength) {
    console.ErrorBlock({messages::kPathTooLong});
    return false;
  }
  SetPath(buffer, {argument, size});
  length = static_cast<int>(size);
  return true;
}

// The key is the first 16 bytes of the key file; bytes past the end of a shorter file are zero.
bool ReadKey(const PathBuffer& keyPath, Key& key) {
  UniqueFile file(std::fopen(keyPath.data(), "rb"));
  if (!file) return false;
  key.fill(0);
  (void)std::fread(key.data(), 1, key.size(), file.get());
  return !std::ferror(file.get());
}

void RunOperation(Encapsulator& encapsulator, bool encapsulate, int typeNumber, const Key& key) {
  switch (typeNumber) {
    case kEncryption:
      encapsulate ? encapsulator.EncapsulateEncryption(key)
                  : encapsulator.DecapsulateEncryption(key);
      break;
    case kEncryptionHash:
      encapsulate ? encapsulator.EncapsulateEncryptionHash(key)
                  : encapsulator.DecapsulateEncryptionHash(key);
      break;
    case kMac:
      encapsulate ? encapsulator.EncapsulateMac(key) : encapsulator.DecapsulateMac(key);
      break;
    case kHash:
      encapsulate ? encapsulator.EncapsulateHash() : encapsulator.DecapsulateHash();
      break;
    case kNonProtected:
      encapsulate ? encapsulator.EncapsulateNonProtected(key)
                  : encapsulator.DecapsulateNonProtected(key);
      break;
  }
}

// The paths of one run. A buffer that no argument fills keeps "0".
struct RunPaths {
  PathBuffer input{};
  PathBuffer output = InitialPathBuffer();
  PathBuffer key = InitialPathBuffer();
  PathBuffer table = InitialPathBuffer();
  PathBuffer result = InitialPathBuffer();
  PathBuffer fileName = InitialPathBuffer();
  int inputLength = 0;
  int outputLength = 0;
};

bool CopyPathArguments(int argc, const char* const* argv, const Arguments& arguments,
                       RunPaths& paths, Console& console) {
  const char* const* words = argv + 3 - arguments.shift;
  int keyLength = 0;
  return CopyPath(words[0], paths.input, paths.inputLength, console) &&
         CopyPath(words[1], paths.output, paths.outputLength, console) &&
         (argc != 6 - arguments.shift || CopyPath(words[2], paths.key, keyLength, console));
}

// Classifies the input, reads the key, checks the output location and runs the operation.
void RunCommand(const Arguments& arguments, RunPaths& paths, Console& console) {
  int typeNumber = ClassifyInput(paths.input, paths.table, paths.inputLength, arguments.encapsulate,
                                 arguments.forDisc, console);
  Key key{};
  if (typeNumber != kHash && !ReadKey(paths.key, key)) {
    console.ErrorBlock({messages::kKeyFileError});
    typeNumber = kRefused;
  }
  if (typeNumber == kRefused) return;
  if (!CheckOutputLocation(paths.input, paths.inputLength, paths.output, paths.outputLength,
                           paths.result, paths.table, paths.fileName, typeNumber,
                           arguments.encapsulate, arguments.forDisc, console)) {
    return;
  }
  Encapsulator encapsulator(paths.input, paths.result, paths.table, paths.fileName, console);
  RunOperation(encapsulator, arguments.encapsulate, typeNumber, key);
}

}  // namespace

int RunVelador(int argc, const char* const* argv, std::ostream& out) {
  Console console(out);
  if (argc <= 1) {
    PrintHelp(console);
    platform::Pause(out);
    return 0;
  }
  if (argc == 2) {
    if (OptionLetter(argv[1]) == '?') {
      PrintHelp(console);
    } else {
      console.Text(messages::kTwoWordError);
      console.LineEnds();
    }
    return 0;
  }
  Arguments arguments;
  RunPaths paths;
  if (ParseOptions(argc, argv, arguments, console) &&
      CopyPathArguments(argc, argv, arguments, paths, console)) {
    RunCommand(arguments, paths, console);
  }
  return 0;
}

}  // namespace velador
