#include "download/download_task.h"

#include <array>
#include <cstdint>
#include <string_view>
#include <utility>

#include "download/download_session.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/streamed_request.h"
#include "platform/thread.h"

namespace velmora::download {
namespace {

constexpr std::int32_t kElapsedWhenZero = 10;
// The calling thread's window messages are processed between chunks, but not more often than
// this: looking at the queue costs 20-30 us under Wine, about as much as reading a whole chunk
// over loopback, so doing it after every chunk would halve the download's speed.
constexpr std::uint32_t kMessageIntervalMs = 10;
constexpr std::int32_t kStatusOk = 200;
constexpr std::int32_t kStatusPartialContent = 206;

// The first byte's offset of a Content-Range value "bytes <first>-<last>/<length>"; -1 when the
// value does not have that form.
std::int64_t RangeStart(const std::string& contentRange) {
  constexpr std::string_view kUnit = "bytes ";
  if (contentRange.compare(0, kUnit.size(), kUnit) != 0) return -1;
  std::int64_t first = 0;
  std::size_t at = kUnit.size();
  const std::size_t digitsStart = at;
  for (; at < contentRange.size() && contentRange[at] >= '0' && contentRange[at] <= '9'; ++at) {
    if (first > (INT64_MAX - 9) / 10) return -1;
    first = first * 10 + (contentRange[at] - '0');
  }
  if (at == digitsStart || at >= contentRange.size() || contentRange[at] != '-') return -1;
  return first;
}

// Only the file's own bytes may be stored: an error page is not the file, a compressed body is
// not either, and a resumed request must answer with the part asked for, starting where the
// local file ends (a server that ignores the range answers 200 with the whole file).
bool IsTheFile(platform::StreamedRequest& request, bool resume, std::int64_t startOffset) {
  const std::int32_t status = request.StatusCode();
  const bool statusFits = resume ? status == kStatusPartialContent : (status >= kStatusOk && status <= 299);
  if (!statusFits) return false;
  if (resume && RangeStart(request.ContentRange()) != startOffset) return false;
  const std::string encoding = request.ContentEncoding();
  return encoding.empty() || encoding == "identity";
}

std::int32_t Low32(std::int64_t value) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(value)); }

}  // namespace

std::string RequestHeaderBlock(bool resume, std::int64_t startOffset) {
  std::string block = kRequestHeaders;
  if (resume) block += "\r\nRange:bytes=" + std::to_string(startOffset) + "-";
  return block;
}

DownloadTask::DownloadTask(const DownloadTask& other)
    : contentLength_(other.contentLength_),
      elapsedMs_(other.elapsedMs_),
      position_(other.position_),
      startPosition_(other.startPosition_),
      receivedBytes_(other.receivedBytes_),
      networkBytes_(other.networkBytes_),
      arrived_(other.ArrivedBytes()) {}

DownloadTask& DownloadTask::operator=(const DownloadTask& other) {
  if (this != &other) {
    contentLength_ = other.contentLength_;
    elapsedMs_ = other.elapsedMs_;
    position_ = other.position_;
    startPosition_ = other.startPosition_;
    receivedBytes_ = other.receivedBytes_;
    networkBytes_ = other.networkBytes_;
    arrived_.store(other.ArrivedBytes(), std::memory_order_relaxed);
  }
  return *this;
}

DownloadResult DownloadTask::Finish() {
  // A file that is about to replace another must be on the disk before the replacement is.
  if (exclusiveFile_ && !flushLater_ && !localFile_->Flush()) return DownloadResult::LocalFileFailed;
  keptOpen_ = exclusiveFile_ && flushLater_;
  return DownloadResult::Ok;
}

std::unique_ptr<platform::OutputFile> DownloadTask::TakeFinishedFile() {
  if (!keptOpen_) return nullptr;
  keptOpen_ = false;
  return std::exchange(localFile_, nullptr);
}

void DownloadTask::RunInFlightWork() {
  if (!inFlightWork_) return;
  const std::function<void()> work = std::move(inFlightWork_);
  inFlightWork_ = nullptr;
  work();
}

// A staging file is opened while the request travels: under Wine a name new to its folder costs a
// read of the folder, which then overlaps the server's answer. It is opened without being cut, so
// that an answer that is not the file leaves it as it was; an open that fails here (the file in
// use by another row) is simply made again, as usual, once the answer is known.
bool DownloadTask::OpenLocalFileEarly(const std::string& localPath) {
  if (!exclusiveFile_) return false;
  if (!localFile_) localFile_ = std::make_unique<platform::OutputFile>();
  return localFile_->Open(localPath, platform::OutputFile::Mode::Append, true);
}

// The answer was not the file: the file opened early is closed, and removed when it is empty (it
// holds nothing to resume; the next run's check and resume treat a missing and an empty staging
// file alike).
void DownloadTask::ForgetEarlyFile(const std::string& localPath) {
  if (!openedEarly_) return;
  openedEarly_ = false;
  localFile_->Close();
  if (platform::FileLength(localPath) == 0) platform::RemoveFile(localPath);
}

void DownloadTask::SetPlacedProgress(std::int64_t fileLength, std::int64_t placed, std::int64_t networkBytes,
                                     std::int32_t elapsedMs) {
  contentLength_ = fileLength;
  startPosition_ = 0;
  position_ = placed;
  receivedBytes_ = networkBytes;
  networkBytes_ = networkBytes;
  elapsedMs_ = elapsedMs > 0 ? elapsedMs : kElapsedWhenZero;
}

void DownloadTask::CloseFile() {
  keptOpen_ = false;
  if (localFile_) localFile_->Close();
}

DownloadResult DownloadTask::Download(const std::string& url, const std::string& localPath,
                                      ProgressCallback progress, std::int64_t startOffset, bool resume,
                                      std::int32_t userData) {
  CloseFile();
  openedLocalFile_ = false;
  openedEarly_ = false;
  lengthRefused_ = false;
  networkBytes_ = -1;
  SetLastAnswer(0, 0);
  // The in-flight work runs before this returns, whatever happens; normally while the request
  // travels. Declared first, so that it runs after everything below has been closed.
  struct InFlightWorkGuard {
    DownloadTask& task;
    ~InFlightWorkGuard() { task.RunInFlightWork(); }
  } inFlightWorkGuard{*this};
  const std::unique_ptr<platform::InternetSession> session = OpenDownloadSession();
  if (!session) return DownloadResult::InternetOpenFailed;

  const std::string headers = RequestHeaderBlock(resume, startOffset);
  std::array<char, kChunkSize> buffer;

  // A file opened early and not taken (the answer is not the file, or no answer) is let go of
  // when this returns, before the request and the session are closed.
  struct EarlyFileGuard {
    DownloadTask& task;
    const std::string& path;
    ~EarlyFileGuard() {
      if (!task.openedLocalFile_) task.ForgetEarlyFile(path);
    }
  };
  // Declared after the session so that it is closed before it, and before the file is opened so
  // that the file is closed first: every return below releases all three in that order.
  const std::unique_ptr<platform::StreamedRequest> request =
      session->OpenUrlWhileWaiting(url, headers, platform::kDownloadRequestFlags, [this, &localPath] {
        openedEarly_ = OpenLocalFileEarly(localPath);
        RunInFlightWork();
      });
  const EarlyFileGuard earlyFileGuard{*this, localPath};
  if (!request) {
    SetLastAnswer(0, session->LastErrorCode());
    return DownloadResult::UrlOpenFailed;
  }
  SetLastAnswer(request->StatusCode(), 0);

  contentLength_ = 0;
  position_ = 0;
  startPosition_ = 0;
  // Checked before the local file is opened, so that an answer that is not the file leaves the
  // file exactly as it was.
  if (!IsTheFile(*request, resume, startOffset)) return DownloadResult::UrlOpenFailed;

  // The length too: an answer without one (a chunked body) must not cut an existing file to 0.
  const std::int64_t announced = request->ContentLength();
  if (announced <= 0) return DownloadResult::EmptyContent;
  if (expectedLength_ >= 0 && (resume ? startOffset : 0) + announced != expectedLength_) {
    lengthRefused_ = true;
    return DownloadResult::UrlOpenFailed;
  }

  if (!localFile_) localFile_ = std::make_unique<platform::OutputFile>();
  // Closed when this returns, unless Finish keeps the finished file open for its flush.
  struct FileCloser {
    DownloadTask& task;
    ~FileCloser() {
      if (!task.keptOpen_) task.localFile_->Close();
    }
  } closer{*this};
  if (openedEarly_) {
    // Opened at its end: a download from the first byte cuts it now that the answer is the file
    // (a file the opening made needs no cut, and under Wine a cut is a request to the server).
    if (!resume && localFile_->Length() != 0 && !localFile_->SetLength(0)) return DownloadResult::LocalFileFailed;
  } else if (!localFile_->Open(localPath,
                               resume ? platform::OutputFile::Mode::Append : platform::OutputFile::Mode::CreateOrTruncate,
                               exclusiveFile_)) {
    return DownloadResult::LocalFileFailed;
  }
  openedLocalFile_ = true;
  if (resume) position_ = startOffset;
  startPosition_ = position_;
  contentLength_ = announced;
  const std::int64_t endPosition = (resume ? startOffset : 0) + contentLength_;

  const std::uint32_t startTick = platform::TickCount();
  std::uint32_t messagesTick = startTick;
  elapsedMs_ = kElapsedWhenZero;
  for (;;) {
    if (StopRequested()) return DownloadResult::ReadFailed;
    const std::int64_t got = request->Read(buffer.data(), kChunkSize);
    if (got < 0) return DownloadResult::ReadFailed;
    // The end of the body must be the announced end: a dropped connection is not a success.
    if (got == 0) return position_ == endPosition ? Finish() : DownloadResult::ReadFailed;
    // Nothing past the announced length is stored: an endless body would otherwise fill the disk.
    if (got > endPosition - position_) return DownloadResult::ReadFailed;
    if (!localFile_->Write(buffer.data(), static_cast<std::size_t>(got))) return DownloadResult::LocalFileFailed;
    for (platform::HashComputation* digest : digests_) {
      if (digest != nullptr) digest->Add(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    }
    arrived_.fetch_add(got, std::memory_order_relaxed);

    const std::uint32_t now = platform::TickCount();
    if (now - messagesTick >= kMessageIntervalMs) {
      platform::ProcessPendingMessages();
      messagesTick = now;
    }
    position_ += got;
    const std::int32_t elapsed = static_cast<std::int32_t>(now - startTick);
    elapsedMs_ = elapsed == 0 ? kElapsedWhenZero : elapsed;
    const std::int64_t received = position_ - (resume ? startOffset : 0);
    if (progress != nullptr) {
      progress(Low32(contentLength_), Low32(position_), elapsedMs_, Low32(received), userData);
    }
    receivedBytes_ = received;
  }
}

}  // namespace velmora::download
