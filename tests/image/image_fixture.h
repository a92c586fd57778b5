#pragma once

// The fixture of the image library's tests: a disc image in a fresh folder, filled through the
// library itself, and the few byte edits that damage it the ways real images are damaged.

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "encapsulation/container_layout.h"
#include "image/add.h"
#include "image/transaction.h"
#include "support/counting_faults.h"
#include "support/workspace.h"

namespace velador::testing {

class ImageFixture : public ::testing::Test {
 protected:
  ImageFixture() {
    MakeDiscImage(w, "img");
    w.Write("key", FromHex("00112233445566778899aabbccddeeff"));
  }

  std::string P(const std::string& relative) const { return w.Path(relative).string(); }

  // Adds the files (under src/) to img with the key; every one must be added.
  ImageAdd AddAll(const std::vector<std::string>& names, bool replace = false) {
    std::vector<std::string> inputs;
    for (const std::string& name : names) inputs.push_back(P("src/" + name));
    ImageAdd add;
    EXPECT_EQ(AddToImage(P("img"), AddOptions{P("key"), replace}, inputs, {}, add),
              ImageAddError::kNone);
    return add;
  }

  Bytes Table() const { return w.Read(kTable); }

  // Sets the counter to `counter` and the length to match, new entries all zero.
  void SetCounter(std::uint32_t counter) const {
    Bytes table = Table();
    table.resize(static_cast<std::size_t>(table::LengthFor(counter)), '\0');
    table.replace(table::kCounterOffset, 4, Number(counter));
    w.Write(kTable, table);
  }

  // Puts `number` in the `index`-th number of the trailer of the hashed container `name`.
  void SetTrailerNumber(const std::string& name, std::size_t fromEnd, std::uint32_t number) const {
    Bytes bytes = w.Read("img/ADV_OBJ/" + name);
    bytes.replace(bytes.size() - 4 * (fromEnd + 1), 4, Number(number));
    w.Write("img/ADV_OBJ/" + name, bytes);
  }

  // Every file under `image` with its bytes, by its path inside `image`.
  using Tree = std::map<std::string, Bytes>;
  Tree TreeOf(const std::string& image = "img") const;

  // What an interrupt of a change says of the image it leaves, for
  // ExpectEveryStopLeavesBeforeOrAfter.
  static constexpr const char* kSaysBefore = "before";
  static constexpr const char* kSaysAfter = "after";
  static void SayOnInterrupt(const char* notice);

  // Puts `image` back to `tree` exactly: its files written, any other file removed.
  void Restore(const Tree& tree, const std::string& image = "img") const;

  // Runs `change` on the image as it is, to learn its fault points and the image after it; then
  // for each point, and once past the last, from the image before, in a child process stopped
  // at that point by each of `actions` (a power cut puts in place of img what it would leave).
  // After the next run that locks the table, img must be exactly as before or as after; as
  // after, when the stop came only once `change` had returned. `change` must not use gtest's
  // assertions: it also runs in the children.
  // With `foldLetters`, the change and the run after it find files as a file system that folds
  // letters would (see CountingFaults::FoldLetters).
  // A change may tell an interrupt what it leaves, through the image layer's events, with the
  // notices kSaysBefore and kSaysAfter (see SayOnInterrupt): an interrupted child's image must
  // then be as it said.
  void ExpectEveryStopLeavesBeforeOrAfter(const std::function<void()>& change,
                                          std::initializer_list<CountingFaults::Action> actions,
                                          bool foldLetters = false);

  static constexpr const char* kTable = "img/AACS/CONTENT_HASH_TABLE2.AACS";
  Workspace w;
};

}  // namespace velador::testing
