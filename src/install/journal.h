// The commit's journal: what a commit is about to change, written to the disk before the first
// replacement so that a start after an interruption can finish the commit or undo it.
//
// Format (UTF-8 lines, tab-separated fields, paths relative to the run directory and encoded
// with EncodeField):
//   velmora-commit<TAB>1
//   kind<TAB>update | rollback
//   change<TAB>target<TAB>source<TAB>kept<TAB>size<TAB>md5<TAB>sha256     (one per target)
//   end<TAB>number of changes
// `source` is the staged file whose bytes become the target (empty: the target is removed),
// `kept` where the target's old bytes are kept (empty: the target had no file before the commit),
// size/md5/sha256 the checks of the source ("-1" and empty when not known).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "install/file_check.h"

namespace velmora::install {

enum class CommitKind {
  Update,    // a new release goes in; the replaced files become the kept release
  Rollback,  // the kept release goes back in; nothing is kept afterwards
};

struct JournalChange {
  std::string target;
  std::string source;
  std::string kept;
  FileCheck check;
};

struct Journal {
  CommitKind kind = CommitKind::Update;
  std::vector<JournalChange> changes;
};

std::string FormatJournal(const Journal& journal);

// The journal that `text` holds; nothing when it is not a whole journal of this format or names a
// path that would leave the run directory.
std::optional<Journal> ParseJournal(std::string_view text);

}  // namespace velmora::install
