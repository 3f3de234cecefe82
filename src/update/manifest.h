// The update manifest: the list of files of the current release, with each file's MD5 digest,
// download address and install path, and the program to start after the update.
//
//   {"run":"App.exe","data":[{"name":"App","md5":"<32 hex digits>",
//                             "url":"<download address>","path":"\\App.exe"}]}
//
// It comes from the manifest server (UTF-8) when the program was started without arguments, or from
// the hand-off file that the product leaves below the run directory (GBK) otherwise.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::update {

// The manifest's fixed place on the manifest server; the server's origin is a setting of the build.
inline constexpr char kManifestPath[] = "/download/2099/pro/up.txt";
// The hand-off file below the run directory.
inline constexpr char kHandOffFileName[] = "\\Bin\\Config\\UP.data";
// The longest wait for the manifest server's answer.
inline constexpr std::uint32_t kManifestTimeoutMs = 90'000;
// How long the update check waits before it fetches a manifest and a signature that did not match
// once more (a publish between the two requests, or a cache that kept one longer than the other).
inline constexpr std::uint32_t kMismatchPauseMs = 3'000;
// The digest of empty data: what a missing local file hashes to.
inline constexpr char kEmptyDataMd5[] = "d41d8cd98f00b204e9800998ecf8427e";

// The build's manifest server origin (always https) followed by kManifestPath.
std::string ManifestUrl();

// Where root records are published, on the manifest's server (docs/signing.md).
inline constexpr char kRootRecordFolder[] = "/download/2099/pro/root/";
// The origin followed by kRootRecordFolder, `version` and ".json"; the signatures are beside it.
std::string RootRecordUrl(std::int64_t version);

// RunDirectory() + kHandOffFileName.
std::string HandOffFile();

// Removes the hand-off file: a quiet run calls it once its release is in place.
void ConsumeHandOffFile();

// Obtains and parses the manifest, replaces the program's LaunchTarget with its `run` value and its
// UpdateList with the entries whose local file (run directory + `path`) is missing or has another
// MD5 digest, in manifest order, and returns their number. Digests are compared in either letter
// case (the entries keep them in lower case); an `md5` that is not 32 hex digits matches no file.
// Runs on the update-check thread; writes the program-wide state without locking (the start
// button is disabled meanwhile).
//
// Does not return when no manifest can be used. No text (no response, an HTTP status that is not
// 2xx, an empty body, no hand-off file): notice "获取Update文件列表失败" / "错误代码：UpData数据为空".
// Text that is not JSON, or a manifest with a `path` or `run` that would leave the run directory:
// "获取Update文件列表失败" / "错误代码：UpData数据错误". With a required key (docs/signing.md) also a
// bad signature ("…UpData签名错误"; only once the manifest and its signature, fetched again after
// kMismatchPauseMs, still do not match: the run log says so), an expired manifest ("…UpData已过期") and a lower serial than
// the highest accepted ("…UpData版本过旧"). Either way the run then ends with the refusal's outcome
// (update/program_end.h; no notice in a quiet run), the reason is logged, and the program-wide
// state is left as it was. The hand-off file is deleted once a manifest has been accepted,
// whichever source the manifest came from, except by a --check run, which only looks, and by a
// quiet run that lists files, which keeps it until its release is in place (ConsumeHandOffFile).
std::int32_t LoadManifest();

// Tests: `pause` is called instead of the wait of kMismatchPauseMs (null: the wait again).
void ReplaceMismatchPause(void (*pause)(std::uint32_t milliseconds));

}  // namespace velmora::update
