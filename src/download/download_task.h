// One grid row's HTTP download: fetches one URL into one local file, chunk by chunk, calling a
// progress callback after every chunk written, and keeps the counters that the progress report
// reads back (the announced length, the bytes present, the elapsed time, the bytes of this call).
//
// Every TaskRecord owns one, copied from the update check's template in its initial state (every
// counter 0, no file). A row's worker runs Download on its own thread; the getters may be called
// from the callback on that thread while a download runs. RequestStop may be called from any
// thread at any time.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/file.h"
#include "platform/hash.h"

namespace velmora::download {

enum class DownloadResult : std::int32_t {
  Ok = 0,                  // the whole announced body arrived and was written; the file is closed
  ReadFailed = 1,          // a read failed, the body ended early or ran past its length, or a stop
  InternetOpenFailed = 2,  // no internet session could be opened
  UrlOpenFailed = 3,       // the request did not open, or its answer is not the file (status, encoding)
  EmptyContent = 4,        // the answer announces no positive length
  LocalFileFailed = -1,    // the local file did not open, or a write to it failed
};

// Called on the downloading thread after every chunk written: the announced length, the bytes
// present (low 32 bits of each), the elapsed milliseconds, the bytes received by this call (low 32
// bits) and the caller's userData. The download waits for it.
using ProgressCallback = void (*)(std::int32_t contentLength, std::int32_t position, std::int32_t elapsedMs,
                                  std::int32_t receivedBytes, std::int32_t userData);

// The header block sent with every request, without the Range line. The body must be the file's
// own bytes, so only the identity encoding is accepted.
inline constexpr char kRequestHeaders[] =
    "Accept: */*\r\n"
    "Accept-Language: zh-cn\r\n"
    "Accept-Encoding: identity\r\n"
    "User-Agent: Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)";

// Bytes asked for by every read of the body.
inline constexpr std::uint32_t kChunkSize = 10240;

// The header block of a request: kRequestHeaders, and with `resume` the line
// "Range:bytes=<startOffset>-" after a CR LF (no CR LF after the last line).
std::string RequestHeaderBlock(bool resume, std::int64_t startOffset);

class DownloadTask {
 public:
  DownloadTask() = default;
  // A copy has this task's counters; it holds no file, no digest and no stop request.
  DownloadTask(const DownloadTask& other);
  DownloadTask& operator=(const DownloadTask& other);
  ~DownloadTask() = default;

  // Downloads `url` into `localPath` (GBK texts). With `resume` off the file is created or
  // truncated; with `resume` on it is opened without truncation (created when missing), the new
  // bytes are appended at its end and `position` starts at `startOffset`, and the request asks for
  // "bytes=<startOffset>-". `progress` (may be null) receives `userData` back.
  //
  // The answer must be 2xx (206 whose Content-Range starts at `startOffset` when resuming) with no
  // content encoding other than identity,
  // otherwise UrlOpenFailed, and must announce a positive length, otherwise EmptyContent; in both
  // cases the local file is not touched. Exactly the announced length must arrive: an
  // early end, or more bytes than announced (nothing past the length is written), is ReadFailed.
  // A stop request is honoured between chunks: ReadFailed with StopRequested() true. Everything
  // opened is closed before it returns. Blocks the calling thread; never throws.
  DownloadResult Download(const std::string& url, const std::string& localPath, ProgressCallback progress,
                          std::int64_t startOffset, bool resume, std::int32_t userData);

  std::int64_t ContentLength() const { return contentLength_; }
  std::int64_t Position() const { return position_; }
  std::int32_t ElapsedMs() const { return elapsedMs_; }
  std::int64_t ReceivedBytes() const { return receivedBytes_; }

  // The whole file's length as the last Download knows it: the bytes present before it began
  // plus the announced length; 0 before an answer announced one.
  std::int64_t TotalLength() const { return contentLength_ > 0 ? startPosition_ + contentLength_ : 0; }
  // The bytes present when the last Download's body began (its startOffset when resuming).
  std::int64_t StartPosition() const { return startPosition_; }

  // A file filled from chunks (delta_fill.h) rather than by Download: its length, the bytes placed
  // in it so far (local and fetched), the bytes that came over the network for it and the
  // milliseconds since it began. The progress report then shows the placed bytes, and a speed of
  // network bytes only.
  void SetPlacedProgress(std::int64_t fileLength, std::int64_t placed, std::int64_t networkBytes,
                         std::int32_t elapsedMs);
  // The bytes of this run that the row's speed counts: those received by the last Download, or the
  // network bytes of a file filled from chunks.
  std::int64_t SpeedBytes() const { return networkBytes_ >= 0 ? networkBytes_ : position_ - startPosition_; }
  // Bytes that arrived outside Download (range requests) or were placed from local chunks, for
  // ArrivedBytes: a file filled from the disk is moving too.
  void AddArrivedBytes(std::int64_t bytes) { arrived_.fetch_add(bytes, std::memory_order_relaxed); }

  // For the log: the status of the last answer (0: none arrived), and the system's error code when
  // the last request could not be opened (0: none, or not known).
  std::int32_t LastHttpStatus() const { return lastHttpStatus_; }
  std::uint32_t LastErrorCode() const { return lastErrorCode_; }
  void SetLastAnswer(std::int32_t httpStatus, std::uint32_t errorCode) {
    lastHttpStatus_ = httpStatus;
    lastErrorCode_ = errorCode;
  }

  // The last Download opened (and so created or changed) its local file.
  bool OpenedLocalFile() const { return openedLocalFile_; }

  // Closes the local file if a download left it open (a finished file kept for its flush).
  void CloseFile();

  // With `exclusive`, the local file is opened so that no one else may open it meanwhile (a
  // staging file: two rows for one file must never write into the same bytes), and a complete
  // download is flushed to the disk before Download returns Ok; otherwise others may read and
  // write it.
  void SetExclusiveFile(bool exclusive) { exclusiveFile_ = exclusive; }
  // With `later`, a complete exclusive download is not flushed here: its caller has it flushed
  // before the file replaces another (staged_file_flush.h). Its file then stays open (and so in
  // this process's hands alone) after an Ok, until TakeFinishedFile or CloseFile, so that the
  // flush needs no second opening.
  void SetFlushLater(bool later) { flushLater_ = later; }
  // The file that the last Download finished and kept open (see SetFlushLater); null when none.
  std::unique_ptr<platform::OutputFile> TakeFinishedFile();

  // Work that the next Download does on its thread while its request travels to the server and
  // back (a finished row's ending, scheduler.h), or before it returns when no request goes out:
  // run exactly once, then forgotten. Empty: none.
  void SetInFlightWork(std::function<void()> work) { inFlightWork_ = std::move(work); }

  // Every chunk written from now on is also added to `first` and `second` (not owned; null: none),
  // so that a file is checked without being read again.
  void SetDigests(platform::HashComputation* first, platform::HashComputation* second = nullptr) {
    digests_[0] = first;
    digests_[1] = second;
  }

  // The whole file must have `length` bytes (-1: any): an answer that announces another length is
  // refused before its body (UrlOpenFailed, with LengthRefused() true) and the file is not touched.
  void SetExpectedLength(std::int64_t length) { expectedLength_ = length; }
  bool LengthRefused() const { return lengthRefused_; }

  // Bytes that have arrived through this task over all its downloads; never goes down. Read from
  // any thread (the completion check tells a stalled download from a slow one with it).
  std::int64_t ArrivedBytes() const { return arrived_.load(std::memory_order_relaxed); }

  // Asks a running (or the next) Download to stop after its current chunk. Thread-safe.
  void RequestStop() { stopRequested_.store(true, std::memory_order_release); }
  bool StopRequested() const { return stopRequested_.load(std::memory_order_acquire); }

 private:
  DownloadResult Finish();
  void RunInFlightWork();
  bool OpenLocalFileEarly(const std::string& localPath);
  void ForgetEarlyFile(const std::string& localPath);

  std::int64_t contentLength_ = 0;  // the announced length (of the remaining part when resuming)
  std::int32_t elapsedMs_ = 0;      // since the body began; 10 before the first chunk and for 0
  std::int64_t position_ = 0;       // bytes of the file present: startOffset + bytes received
  std::int64_t startPosition_ = 0;  // bytes of the file present when the body began
  std::int64_t receivedBytes_ = 0;  // bytes received by the current call, after each callback
  std::int64_t networkBytes_ = -1;  // of a file filled from chunks; -1 after a Download
  std::unique_ptr<platform::OutputFile> localFile_;
  std::atomic<bool> stopRequested_{false};
  platform::HashComputation* digests_[2] = {nullptr, nullptr};
  std::int64_t expectedLength_ = -1;
  bool lengthRefused_ = false;
  bool exclusiveFile_ = false;
  bool flushLater_ = false;
  bool openedLocalFile_ = false;
  std::int32_t lastHttpStatus_ = 0;
  std::uint32_t lastErrorCode_ = 0;
  std::atomic<std::int64_t> arrived_{0};
  std::function<void()> inFlightWork_;
  bool openedEarly_ = false;  // the local file was opened while the request travelled
  bool keptOpen_ = false;     // the last Download finished its file and kept it open
};

}  // namespace velmora::download
