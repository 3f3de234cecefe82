// Fingerprints of many files at once, on every core: the update check's comparison of a manifest
// with the run directory, and the publisher's tool hashing a release folder.
//
// The files are shared out among a few threads, one file at a time, in list order; results come
// back in list order, so a caller's output does not depend on which thread finished first. Each
// thread reads through one 128 KiB buffer (small enough that the bytes read are still in the
// core's cache when they are hashed), so memory stays bounded whatever the files' sizes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "delta/local_catalogue.h"

namespace velmora::update {

enum class FileReadState {
  Read,        // every byte was read and hashed
  Missing,     // the file could not be opened (missing, no access, a folder)
  ReadFailed,  // opened, but a read or the hash failed part way
};

// One file's result. `md5` is exactly what Md5HexOfFile gives for the file: 32 lower-case hex
// digits, the digest of empty data for a missing file, empty text for a read that failed part way.
struct FileFingerprint {
  std::string md5;
  FileReadState state = FileReadState::Missing;
  bool notFound = false;  // Missing because there is no such file (not one that could not be opened)
  std::uint64_t bytesRead = 0;
  // The file cut into chunks in the same pass (FingerprintOptions::cutIntoChunks), with the file's
  // index in the list as its source number; null when it was not cut or not read whole.
  std::unique_ptr<delta::LocalFileChunks> chunks;
};

// How far a run has come; counters only grow.
struct FingerprintProgress {
  std::size_t filesDone = 0;
  std::size_t fileCount = 0;
  std::uint64_t bytesRead = 0;
};

struct FingerprintOptions {
  // Called on the calling thread about every `progressIntervalMs` while the files are hashed (and
  // never after the call has returned). May be empty.
  std::function<void(const FingerprintProgress&)> progress;
  std::uint32_t progressIntervalMs = 250;
  // Which files (by index in the list) are also cut into chunks with the delta index's rules while
  // they are hashed, for a delta update. Called on the hashing threads. May be empty: none.
  std::function<bool(std::size_t index)> cutIntoChunks;
};

// The fingerprints of the files at `paths` (GBK), in the order of `paths`. Blocks until all are
// done. Uses up to FingerprintThreadCount() threads, fewer for short lists; a single file, or a
// system that cannot start a thread, is hashed on the calling thread. Thread-safe.
std::vector<FileFingerprint> FingerprintFiles(const std::vector<std::string>& paths,
                                              const FingerprintOptions& options = {});

// The number of hashing threads: the number of cores (at least 1, at most 16), or the number set
// with ReplaceFingerprintThreadCount.
unsigned FingerprintThreadCount();

// Benchmarks and tests: hash with `threads` threads from now on; 0 restores the number of cores.
// Not to be called while FingerprintFiles runs.
void ReplaceFingerprintThreadCount(unsigned threads);

}  // namespace velmora::update
