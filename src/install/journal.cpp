#include "install/journal.h"

#include "install/record_file.h"

namespace velmora::install {
namespace {

constexpr std::string_view kHeader = "velmora-commit\t1";

std::optional<JournalChange> ParseChange(const std::vector<std::string_view>& fields) {
  if (fields.size() != 7 || fields[0] != "change") return std::nullopt;
  JournalChange change;
  const std::optional<std::string> target = DecodeInstallPath(fields[1]);
  const std::optional<std::string> source = DecodeInstallPath(fields[2], true);
  const std::optional<std::string> kept = DecodeInstallPath(fields[3], true);
  const std::optional<std::int64_t> size = ParseWholeNumber(fields[4]);
  if (!target || !source || !kept || !size || *size < -1) return std::nullopt;
  change.target = *target;
  change.source = *source;
  change.kept = *kept;
  change.check.size = *size;
  change.check.md5 = fields[5];
  change.check.sha256 = fields[6];
  return change;
}

}  // namespace

std::string FormatJournal(const Journal& journal) {
  std::string text(kHeader);
  text += "\nkind\t";
  text += journal.kind == CommitKind::Update ? "update" : "rollback";
  text += '\n';
  for (const JournalChange& change : journal.changes) {
    text += "change\t" + EncodeField(change.target) + '\t' + EncodeField(change.source) + '\t' +
            EncodeField(change.kept) + '\t' + std::to_string(change.check.size) + '\t' +
            EncodeField(change.check.md5.Text()) + '\t' + EncodeField(change.check.sha256.Text()) + '\n';
  }
  text += "end\t" + std::to_string(journal.changes.size()) + '\n';
  return text;
}

std::optional<Journal> ParseJournal(std::string_view text) {
  const std::vector<std::string_view> lines = SplitLines(text);
  if (lines.size() < 3 || lines[0] != kHeader) return std::nullopt;
  Journal journal;
  if (lines[1] == "kind\tupdate") {
    journal.kind = CommitKind::Update;
  } else if (lines[1] == "kind\trollback") {
    journal.kind = CommitKind::Rollback;
  } else {
    return std::nullopt;
  }
  for (std::size_t i = 2; i + 1 < lines.size(); ++i) {
    std::optional<JournalChange> change = ParseChange(SplitFields(lines[i]));
    if (!change) return std::nullopt;
    journal.changes.push_back(std::move(*change));
  }
  const std::vector<std::string_view> end = SplitFields(lines.back());
  if (end.size() != 2 || end[0] != "end" || ParseWholeNumber(end[1]) != static_cast<std::int64_t>(journal.changes.size())) {
    return std::nullopt;
  }
  return journal;
}

}  // namespace velmora::install
