// The chunk index and pack (delta/chunk_index.h) that `publish` lays beside every stored file of
// kDeltaMinimumSize bytes or more, so that a client holding an older copy fetches only the chunks
// it lacks:
//
//   files/<md5>/<name>        the file itself
//   files/<md5>/<name>.vmdi   its index: the head, then one record per group of chunks
//   files/<md5>/<name>.vmdp   its pack: each distinct chunk once, deflated (index version 2: with
//                             the file's bytes before it as its dictionary)
//
// Both are content-addressed like the file: their names never change meaning, so a pair already
// in the tree that describes the file exactly is kept as it is rather than written again (a
// newer zlib or other chunking rules would give other bytes under the same name, and a cache
// that kept the old ones would then disagree with the manifest). That holds for a pair of index
// version 1, written by an earlier publisher: updaters read both versions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "delta/chunk_index.h"
#include "manifest_writer.h"

namespace velmora::release {

// Files below this size are fetched whole: an index and the ranges of a pack would save little.
inline constexpr std::uint64_t kDeltaMinimumSize = 64 * 1024;
inline constexpr char kIndexSuffix[] = ".vmdi";
inline constexpr char kPackSuffix[] = ".vmdp";

// What the manifest says about an index and pack: DeltaMember without the addresses.
struct DeltaFiles {
  std::uint64_t indexSize = 0;
  std::string indexSha256;
  std::uint64_t headSize = 0;
  std::string headSha256;
  std::uint64_t packSize = 0;
  std::string packSha256;
};

enum class DeltaWrite { Written, Kept };

// Lays the index and pack of the file `source` (GBK; `size` bytes whose MD5 is `md5`) beside its
// published copy `stored` (GBK), as stored + kIndexSuffix and stored + kPackSuffix. A pair
// already there that describes the file exactly (ExistingDeltaFiles) is kept. Otherwise the file
// is read in pieces of 1 MiB and the pack streamed to "<pack>.velmora-new" while the index is
// built; both are flushed and then renamed into place, pack first. A file that no longer has its
// MD5 or size is an error, as is any file that cannot be read or written: `error` (UTF-8) says
// which, and no half-written file is left under either name.
bool PublishDeltaFiles(const std::string& source, const std::string& stored, const std::string& md5,
                       std::uint64_t size, DeltaFiles& files, DeltaWrite& how, std::string& error);

// The index and pack at stored + kIndexSuffix / kPackSuffix when they describe the file `source`
// exactly: the index decodes whole and gives the file's length, the pack has the head's length,
// and cutting the file with the index's own rules gives its chunks in order, each stored chunk
// inflating from its place in the pack to the file's bytes (with the bytes before it, in version
// 2) and each repeat naming a stored chunk of the same identity; the file still has `md5`.
// Nothing otherwise.
std::optional<DeltaFiles> ExistingDeltaFiles(const std::string& source, const std::string& stored,
                                             const std::string& md5, std::uint64_t size);

// Decodes the whole index `index` whose head is its first `headSize` bytes: the head, and every
// group's record at its place. The head when all of it decodes and the records fill the index
// exactly; nothing otherwise, with `problem` (UTF-8) saying what is wrong.
std::optional<delta::IndexHead> DecodeWholeIndex(std::string_view index, std::uint64_t headSize,
                                                 std::string& problem);

// The manifest's `delta` member for `files` published at `indexUrl` and `packUrl`.
DeltaMember DeltaMemberOf(const DeltaFiles& files, const std::string& indexUrl, const std::string& packUrl);

}  // namespace velmora::release
