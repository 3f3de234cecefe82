// Files, provided by the platform layer.
//
// Paths are the program's GBK text. Windows converts them with code page 936 and uses the wide
// file API, so Chinese names work whatever the system's code page; the POSIX layer converts them
// to UTF-8 and reads "\" as the directory separator, so run-directory paths such as
// "/tmp/run\Bin\x.dll" work unchanged in native builds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace velmora::platform {


// A file opened for sequential reading; closed when the object goes. Not thread-safe.
class InputFile {
 public:
  InputFile();
  ~InputFile();
  InputFile(InputFile&&) noexcept;
  InputFile& operator=(InputFile&&) noexcept;

  // False when the file is missing or cannot be opened for reading.
  bool Open(const std::string& path);
  bool IsOpen() const;
  // After an Open that failed: true when there is no such file (or no folder on its way), false
  // when it failed for another reason (no access, held exclusively, a folder) or succeeded.
  bool NotFound() const;
  // Bytes read into `buffer` (at most `size`), 0 at the end of the file, -1 on a read error.
  std::int64_t Read(void* buffer, std::size_t size);
  // The next Read starts at byte `offset`; false on failure.
  bool Seek(std::uint64_t offset);
  void Close();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// A file opened for writing, byte for byte; other processes may read and write it meanwhile.
// Closed when the object goes. Not thread-safe.
class OutputFile {
 public:
  enum class Mode {
    CreateOrTruncate,  // a new file, or an existing one cut to length 0
    Append,            // an existing file kept as it is (a missing one created); writes go to its end
    Update,            // an existing file kept as it is (a missing one created); writes go where Seek says
  };

  OutputFile();
  ~OutputFile();
  OutputFile(OutputFile&&) noexcept;
  OutputFile& operator=(OutputFile&&) noexcept;

  // False when the file cannot be opened for writing. With `exclusive`, no one else may open it
  // while it is open here (share mode 0 on Windows; an advisory lock that every exclusive opener
  // takes on POSIX), and an open that finds it in use fails without changing it.
  bool Open(const std::string& path, Mode mode, bool exclusive = false);
  bool IsOpen() const;
  // Writes all `size` bytes at the current position; false when that failed (a full disk
  // included). Some of the bytes may have been written then.
  bool Write(const void* data, std::size_t size);
  // Update mode: the next Write (or Read) starts at byte `offset` (past the end, the gap reads as
  // zeros).
  bool Seek(std::uint64_t offset);
  // Update mode (the file is open for reading too): bytes read at the current position into
  // `buffer` (at most `size`), 0 at the end of the file, -1 on a read error.
  std::int64_t Read(void* buffer, std::size_t size);
  // Update mode: the file ends after `length` bytes (cut, or lengthened with zeros).
  bool SetLength(std::uint64_t length);
  // The file's length now; -1 when it cannot be told.
  std::int64_t Length() const;
  // Makes every byte written so far reach the disk (FlushFileBuffers, fsync); false on failure.
  bool Flush();
  void Close();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The length in bytes of the file at `path` (GBK); -1 when there is no such file or it cannot be
// read. Thread-safe.
std::int64_t FileLength(const std::string& path);

// Makes every byte of the existing file at `path` (GBK) reach the disk (opened for writing,
// FlushFileBuffers; fsync); false when it could not be opened or flushed. Thread-safe.
bool FlushFile(const std::string& path);

// Creates the directory `path` (GBK); false when it was not created (an existing one included).
// Thread-safe.
bool CreateDirectoryAt(const std::string& path);

// Removes the directory `path` (GBK) when it is empty; false when it was not removed (a directory
// that holds anything included). Thread-safe.
bool RemoveEmptyDirectory(const std::string& path);

// Puts the file `from` in the place of `to`, replacing a file that is there, in one step on the
// same volume, and returns only when the change has reached the disk (MoveFileExW with
// MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH on Windows, rename elsewhere). False when
// nothing was moved. Thread-safe.
bool MoveFileReplacing(const std::string& from, const std::string& to);

// Deletes the file at `path`. False when nothing was deleted (a missing file included).
// Thread-safe.
bool RemoveFile(const std::string& path);

// Gives the existing file `existing` a second name, `link`, on the same volume (CreateHardLinkW,
// link): both names are then the same bytes until one of them is replaced. False when no link was
// made (a volume without links, a name that exists already). Thread-safe.
bool MakeHardLink(const std::string& existing, const std::string& link);

// Moves the folder `from` to the name `to`, which must not exist, in one step on the same volume.
// False when nothing was moved. Thread-safe.
bool MoveFolder(const std::string& from, const std::string& to);

// The platform's own form of a program path: UTF-16 with "\" on Windows, UTF-8 with "/" on POSIX
// (encoded as UTF-8 bytes in both cases, for messages and tests).
std::string NativePathUtf8(const std::string& path);

}  // namespace velmora::platform
