// The program-wide state shared by the update check, the download workers and the window's
// thread. It sits below the subsystems: the update check fills it, the downloads read it and
// change the counters, and the app layer only wires them together.
//
// One instance, created before the start routine runs and alive until the process ends. It is
// written by the update-check thread while the start button is disabled and read by the download
// workers and the window's thread after the check has enabled it; that order, not a lock, keeps
// the accesses apart (a killed thread must never leave a lock held). Texts are GBK.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "delta/local_catalogue.h"
#include "download/download_task.h"
#include "platform/handles.h"
#include "state/listed_digest.h"
#include "state/mirror_failures.h"

namespace velmora::state {

// One manifest record: four GBK texts, each empty when the manifest lacks it.
struct UpdateEntry {
  std::string name;
  ListedMd5 md5;
  std::string url;
  std::string path;  // relative to the run directory, beginning with "\"
  // Optional stronger checks of the downloaded file: its length in bytes (-1: not given) and its
  // SHA-256 (not listed: not given; a manifest whose sha256 cannot be checked is refused).
  std::int64_t size = -1;
  ListedSha256 sha256;
  // What the update check found, so that the download need not look again (under Wine each look
  // for a file that is not there reads its whole folder): no file at the target (not one that could
  // not be read), and no staging file of the entry to resume. False when not known.
  bool targetNotFound = false;
  bool noStagingFile = false;
  // The MD5 of the file the update check found at the target (empty: none, or not readable), kept
  // with the previous release when the update replaces it.
  std::string localMd5;

  // Where the file's chunk index and pack lie (the manifest's `delta` member), from which a client
  // holding an older copy can fetch only the chunks it lacks. Filled only when every field is
  // there in its form; otherwise left empty and the file is fetched whole.
  struct DeltaSource {
    std::string indexUrl;
    std::int64_t indexSize = -1;
    std::string indexSha256;  // 64 lower-case hex digits
    std::int64_t headSize = -1;  // the index's first headSize bytes are its head
    std::string headSha256;
    std::string packUrl;
    std::int64_t packSize = -1;
    std::string packSha256;

    // Every field is set: both addresses, positive sizes with the head within the index, and
    // three digests.
    bool Present() const {
      return !indexUrl.empty() && !packUrl.empty() && indexSize > 0 && headSize > 0 && headSize <= indexSize &&
             packSize > 0 && indexSha256.size() == 64 && headSha256.size() == 64 && packSha256.size() == 64;
    }
  };
  DeltaSource delta{};
};

// The entries whose local file differs, in manifest order; grid row r shows entry r (index r - 1).
using UpdateList = std::vector<UpdateEntry>;

// One record per grid row.
struct TaskRecord {
  std::int32_t rowNumber = 0;  // 1-based, equal to the record's position in the TaskList
  download::DownloadTask task;
  platform::ThreadHandle workerThread = 0;  // a runner of the rows (download/scheduler.h); 0 before
};

using TaskList = std::vector<TaskRecord>;

// The download run's counters, changed only atomically by the workers, the progress report and
// the completion check. `running` counts workers started and not yet finished.
struct DownloadCounters {
  std::atomic<std::int32_t> checkTicks{0};
  std::atomic<std::int32_t> succeeded{0};
  std::atomic<std::int32_t> failed{0};
  std::atomic<std::int32_t> running{0};
  // Rows whose file was verified but whose target the running product holds, in a run that may
  // not end the product: the release waits for the next run.
  std::atomic<std::int32_t> deferred{0};

  DownloadCounters() = default;
  // Copies take each value as it stands (state resets only).
  DownloadCounters(const DownloadCounters& other) { *this = other; }
  DownloadCounters& operator=(const DownloadCounters& other) {
    checkTicks.store(other.checkTicks.load());
    succeeded.store(other.succeeded.load());
    failed.store(other.failed.load());
    running.store(other.running.load());
    deferred.store(other.deferred.load());
    return *this;
  }
};

// Workers allowed to run at the same time.
inline constexpr std::int32_t kMaxRunningWorkers = 2;

// How this run was asked to behave (app/command_line.h, docs/managed.md).
struct RunMode {
  bool quiet = false;         // no window and no dialog; the run ends with its outcome's exit code
  bool checkOnly = false;     // --check: the update check alone; the hand-off file stays
  bool closeProduct = true;   // running copies of the product may be ended to free their files
  bool runProduct = false;    // quiet: start the product after a successful update
};

struct ProgramState {
  RunMode mode;
  UpdateList updateList;
  TaskList taskList;
  std::string launchTarget;             // the manifest's "run" value, relative to the run directory
  std::string releaseIdentity;          // update::ReleaseIdentity of the manifest's entries
  // The manifest's `healthSeconds`: how long a product that the updater starts after installing
  // the release is watched for a crash (update/health_check.h); 0: not watched.
  std::int32_t healthSeconds = 0;
  // The chunks of the local files that the update check cut (files listed with a delta member),
  // for the rows filled from chunks; null when none was cut.
  std::shared_ptr<const delta::LocalChunkSources> localChunks;
  bool fetchFromServer = true;          // false when the program was started with arguments
  std::string channel;                  // the channel followed (update/channel.h); empty: the default
  std::string origin;                   // the policy's Origin (update/origin.h); empty: the build's
  // The manifest's mirrors (update/mirrors.h): base addresses serving the same files, the one this
  // installation prefers, and each one's failures in this run (null when none are listed).
  std::vector<std::string> mirrors;
  std::size_t preferredMirror = 0;
  std::shared_ptr<MirrorFailures> mirrorFailures;
  platform::ThreadHandle checkThread = 0;  // the update-check thread, 0 until started
  std::int32_t entryCount = 0;          // the check's result: number of rows listed
  DownloadCounters counters;
  std::int64_t arrivedAtLastCheck = 0;  // the window's thread: bytes arrived by the last timer tick
  bool runEnding = false;               // the window's thread: the run's end (commit, notices) has begun
};

// The one instance. Not synchronised: see the file comment for who may touch it when.
ProgramState& State();

// Puts every value back to its initial state (tests, and the exit clean-up). Thread handles are
// forgotten, not closed.
void ResetState();

}  // namespace velmora::state
