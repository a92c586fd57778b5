#pragma once

// Checked file access. Reading and writing through these classes either does exactly what was
// asked or throws InputFailure or OutputFailure, so that a caller never goes on with data it did
// not read and never reports a file it did not completely write.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "io/progress.h"

namespace velador {

struct InputFailure {};
struct OutputFailure {};

class ResultFile;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// The regular file at `path` opened for reading in binary mode; null when there is none (a
// folder, a device or a pipe is no regular file) or it does not open. `linkFree` as in
// platform::OpenFile: platform::kImageFile for a file of a disc image.
UniqueFile OpenRegularFile(const std::string& path, int linkFree = 0);

// A regular file opened for reading; its length is measured once, when it is opened. Every byte
// read from it, through ReadAt or by CopyRange, is added to `counter` when one is given; the
// counter must outlive the file.
// Bytes that are read from offsets: a file held inside another file, say. For a reader that
// is not a file of the system's own.
class ReadableBytes {
 public:
  virtual ~ReadableBytes() = default;
  // How many bytes it holds; fixed for its life.
  virtual std::uint64_t Size() const = 0;
  // Reads `count` bytes from `offset`, which lie within Size(); false when they cannot all be
  // read. Called from one thread at a time for one object, from any thread.
  virtual bool ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count) = 0;
};

class InputFile {
 public:
  explicit InputFile(const std::string& path, ByteCounter* counter = nullptr,
                     int linkFree = 0);  // throws InputFailure
  // The file already open as `file` (read from offsets, whatever its position).
  explicit InputFile(UniqueFile file, ByteCounter* counter = nullptr);  // throws InputFailure
  // Reads `bytes` (never null) instead of a file of the system's.
  explicit InputFile(std::unique_ptr<ReadableBytes> bytes, ByteCounter* counter = nullptr);
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  std::uint64_t Size() const { return size_; }

  // Reads exactly `count` bytes starting at `offset`; throws InputFailure when they are not
  // all there (a read never goes past what the file held when it was opened).
  void ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count);

  // As ReadAt, but answers false instead of throwing.
  bool TryReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count);

 private:
  friend void CopyRange(InputFile& input, std::uint64_t offset, std::uint64_t length,
                        ResultFile& result);

  UniqueFile file_;
  std::unique_ptr<ReadableBytes> bytes_;  // instead of file_, when set
  std::uint64_t size_ = 0;
  ByteCounter* counter_ = nullptr;
};

// Where the files a check or a restore reads are opened: the system's files, or those of a
// file system held in one file. Shared by the threads of a run: Open may be called from any.
class FilesToRead {
 public:
  virtual ~FilesToRead() = default;
  // The regular file at `path` opened to be read, as InputFile(path, counter, linkFree) opens
  // it from the system; throws InputFailure when there is none or it cannot be read.
  virtual std::unique_ptr<InputFile> Open(const std::string& path, ByteCounter* counter,
                                          int linkFree) const = 0;
};

// Opens `path` through `files`, or from the system when `files` is null.
std::unique_ptr<InputFile> OpenToRead(const FilesToRead* files, const std::string& path,
                                      ByteCounter* counter, int linkFree);

// The file an operation writes. It is written under a temporary name beside `path` and takes
// the place of `path` only through Commit, once it is complete; a ResultFile destroyed without
// Commit removes its temporary file, so a failed run leaves an earlier file at `path` as it was.
// An interrupt removes the temporary file too. Every write, sync and rename of a result goes
// through the members below and CopyRange.
class ResultFile {
 public:
  // `linkFree` as in platform::OpenFile, for the temporary file and the rename alike.
  explicit ResultFile(std::string path, int linkFree = 0);  // throws OutputFailure
  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;
  ~ResultFile();

  // Appends `count` bytes.
  void Write(const std::uint8_t* data, std::size_t count);  // throws OutputFailure

  // Writes `count` bytes over ones already written from `offset` on; appending resumes at the
  // end afterwards.
  void WriteAt(std::uint64_t offset, const std::uint8_t* data,
               std::size_t count);  // throws OutputFailure

  // Bytes written so far.
  std::uint64_t Size() const { return size_; }

  // Where the result goes, and the temporary file it is written to until then.
  const std::string& Path() const { return path_; }
  const std::string& TemporaryPath() const { return temporaryPath_; }

  // Puts what was written so far on the disk: a full disk shows here, before anything that
  // depends on the result (such as table entries) is done.
  void Sync();  // throws OutputFailure

  // Puts the result on the disk and renames it into place, replacing any earlier file.
  void Commit();  // throws OutputFailure

  // Leaves the file, complete, at its temporary path for the caller to put in place or remove,
  // and answers that path. It stays among the files an interrupt removes until it is renamed.
  std::string Detach();  // throws OutputFailure

  // After Commit: puts the folder's record of the rename on the disk, so that the result is
  // still found there after a power failure. When this fails the result stands at its path all
  // the same, and OutputFailure says that it may not survive one. Before Commit: puts the
  // temporary file's name on the disk.
  void SyncFolder();  // throws OutputFailure

 private:
  friend void CopyRange(InputFile& input, std::uint64_t offset, std::uint64_t length,
                        ResultFile& result);

  // Starts the system writing what was written so far once enough has gathered, so that the
  // disk works while the operation goes on and Sync finds little left to wait for.
  void WriteBackNow();
  void WriteBackWhenDue();

  std::string path_;
  std::string temporaryPath_;
  std::FILE* file_ = nullptr;
  std::uint64_t size_ = 0;
  std::uint64_t writtenBack_ = 0;  // bytes the system was asked to start writing
  bool committed_ = false;
  int linkFree_ = 0;
};

// Appends `length` bytes of `input`, from `offset` on, to `result`: inside the system where it
// offers a copy between the two files, otherwise through a buffer. Throws InputFailure when the
// bytes are not all in `input` (as it was when opened) or cannot be read, OutputFailure when
// they cannot be written.
void CopyRange(InputFile& input, std::uint64_t offset, std::uint64_t length, ResultFile& result);

// Closes a file written through the C library; false when the close reported a failure (a write
// the system had deferred, on a network file system say). The stream is gone either way.
bool CloseWrittenFile(std::FILE* file);

// Puts the bytes written to `file`, open at `path`, on the disk; false when the system could not.
bool SyncFileToDisk(std::FILE* file, const std::string& path);

// Puts `folder`'s entries (its record of files made, renamed and removed in it) on the disk;
// false when the system could not.
bool SyncFolderToDisk(const std::string& folder);

// Where a new file beside `path` may be created: the folder part of `path` (up to and including
// its last "/" or "\"), or the current folder when it has none.
std::string FolderOf(const std::string& path);

// Creates an empty file with a fresh hidden name (".velador-XXXXXXXX.tmp") in `folder` and
// returns its path and stream; null stream when the folder accepts no new file.
struct TemporaryFile {
  std::string path;
  std::FILE* file = nullptr;
};
TemporaryFile CreateTemporaryFile(const std::string& folder, int linkFree = 0);

// Whether `name` is one this tool gives its temporary files: ".velador-", hexadecimal digits,
// ".tmp".
bool IsTemporaryName(std::string_view name);

// A fresh name of that form (16 digits), for what a caller makes under it itself (a folder).
std::string FreshTemporaryName();

// Whether a new file can be created at `path` (where nothing stands yet), or a temporary file in
// `folder`: a file is created and removed again, and an interrupt meanwhile removes it too. The
// probe of `path` makes a temporary file of a name as long as that of `path` in its folder,
// never a file under `path` itself, so that no instant leaves anything in that place.
bool ProbeNewFile(const std::string& path);
bool ProbeTemporaryFile(const std::string& folder);

// Removes the temporary files (".velador-<hex digits>.tmp") that runs no longer alive left in
// `folder` (as FolderOf gives it: empty for the current one), all but the one named `keep`; a
// live run's are never touched (see platform::RemoveIfAbandoned). Answers how many went.
std::size_t RemoveAbandonedTemporaries(const std::string& folder, std::string_view keep = {});

// Size of the working buffers through which files are streamed: a multiple of the cipher block
// and of the hash unit, so that chunk boundaries never split either.
inline constexpr std::size_t kChunkLength = std::size_t{1} << 20;

}  // namespace velador
