#include "app/security_descriptor_text.h"

#include <array>
#include <cstdlib>

namespace velmora::app {
namespace {

struct Abbreviation {
  const char* letters;
  const char* sid;
};

// The SIDs SDDL writes as two letters that do not depend on the machine's or the domain's SID.
// Domain-relative ones (DA, DU, LA, ...) are kept as written: none of them is a trusted writer.
constexpr std::array<Abbreviation, 36> kSidAbbreviations{{
    {"AC", "S-1-15-2-1"},   {"AN", "S-1-5-7"},      {"AO", "S-1-5-32-548"}, {"AU", "S-1-5-11"},
    {"BA", "S-1-5-32-544"}, {"BG", "S-1-5-32-546"}, {"BO", "S-1-5-32-551"}, {"BU", "S-1-5-32-545"},
    {"CG", "S-1-3-1"},      {"CO", "S-1-3-0"},      {"CY", "S-1-5-32-569"}, {"ED", "S-1-5-9"},
    {"ER", "S-1-5-32-573"}, {"HI", "S-1-16-12288"}, {"IS", "S-1-5-32-568"}, {"IU", "S-1-5-4"},
    {"LS", "S-1-5-19"},     {"LU", "S-1-5-32-559"}, {"LW", "S-1-16-4096"},  {"ME", "S-1-16-8192"},
    {"MU", "S-1-5-32-558"}, {"NO", "S-1-5-32-556"}, {"NS", "S-1-5-20"},     {"NU", "S-1-5-2"},
    {"OW", "S-1-3-4"},      {"PS", "S-1-5-10"},     {"PU", "S-1-5-32-547"}, {"RC", "S-1-5-12"},
    {"RD", "S-1-5-32-555"}, {"RE", "S-1-5-32-552"}, {"RU", "S-1-5-32-554"}, {"SI", "S-1-16-16384"},
    {"SO", "S-1-5-32-549"}, {"SU", "S-1-5-6"},      {"SY", "S-1-5-18"},     {"WD", "S-1-1-0"},
}};

struct RightLetters {
  const char* letters;
  std::uint32_t rights;
};

constexpr std::array<RightLetters, 31> kRightLetters{{
    {"GA", kGenericAll}, {"GR", kGenericRead}, {"GW", kGenericWrite}, {"GX", kGenericExecute},
    {"RC", 0x20000},     {"SD", kDelete},      {"WD", kWriteDac},     {"WO", kWriteOwner},
    {"RP", 0x10},        {"WP", 0x20},         {"CC", 0x1},           {"DC", 0x2},
    {"LC", 0x4},         {"SW", 0x8},          {"LO", 0x80},          {"DT", 0x40},
    {"CR", 0x100},       {"FA", 0x1f01ff},     {"FR", 0x120089},      {"FW", 0x120116},
    {"FX", 0x1200a0},    {"KA", 0xf003f},      {"KR", 0x20019},       {"KW", 0x20006},
    {"KX", 0x20019},     {"NR", 0x1},          {"NW", 0x2},           {"NX", 0x4},
    {"TC", 0x1},         {"AS", 0x1000000},    {"MA", 0x2000000},
}};

// The reader's place in the text and the first fault it met.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}

  bool AtEnd() const { return at_ >= text_.size(); }
  char Peek(std::size_t ahead = 0) const { return at_ + ahead < text_.size() ? text_[at_ + ahead] : '\0'; }
  std::size_t At() const { return at_; }
  void Skip(std::size_t count) { at_ += count; }
  void MoveTo(std::size_t at) { at_ = at; }
  std::string_view Take(std::size_t count) {
    const std::string_view taken = text_.substr(at_, count);
    at_ += taken.size();
    return taken;
  }

  bool Fail(const std::string& why) {
    if (error_.empty()) {
      error_ = why;
      errorAt_ = at_;
    }
    return false;
  }
  const std::string& Error() const { return error_; }
  std::size_t ErrorAt() const { return errorAt_; }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
  std::string error_;
  std::size_t errorAt_ = 0;
};

bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSectionStart(const Cursor& cursor) {
  const char c = cursor.Peek();
  return cursor.Peek(1) == ':' && (c == 'O' || c == 'G' || c == 'D' || c == 'S');
}

// A SID: "S-1-5-21-1-2-3-1000" or two letters ("BA").
std::optional<std::string> ReadSid(std::string_view text) {
  if (text.size() == 2 && IsUpper(text[0]) && IsUpper(text[1])) return ExpandSidAbbreviation(text);
  if (text.size() < 5 || text.substr(0, 4) != "S-1-") return std::nullopt;
  for (const char c : text.substr(4)) {
    if (!IsDigit(c) && c != '-' && !(c >= 'a' && c <= 'f') && !(c >= 'A' && c <= 'F') && c != 'x') return std::nullopt;
  }
  return std::string(text);
}

// The owner's or group's SID, up to the next section.
std::optional<std::string> ReadSectionSid(Cursor& cursor) {
  const std::size_t start = cursor.At();
  std::size_t length = 0;
  if (cursor.Peek() == 'S' && cursor.Peek(1) == '-') {
    while (!cursor.AtEnd() && cursor.Peek(length) != '\0' &&
           !(cursor.Peek(length) == ':' || (IsUpper(cursor.Peek(length)) && cursor.Peek(length + 1) == ':'))) {
      ++length;
    }
  } else {
    length = 2;
  }
  std::optional<std::string> sid = ReadSid(cursor.Take(length));
  if (!sid) {
    cursor.MoveTo(start);
    cursor.Fail("not a SID");  // the fault is reported where the SID starts
  }
  return sid;
}

std::optional<std::uint32_t> ReadRights(std::string_view text) {
  if (text.empty()) return std::nullopt;
  if (IsDigit(text[0])) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    std::uint64_t value = 0;
    for (const char c : text.substr(hex ? 2 : 0)) {
      int digit = -1;
      if (IsDigit(c)) digit = c - '0';
      else if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      else if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      if (digit < 0) return std::nullopt;
      value = value * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
      if (value > 0xffffffffu) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
  }
  if (text.size() % 2 != 0) return std::nullopt;
  std::uint32_t rights = 0;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    bool known = false;
    for (const RightLetters& letters : kRightLetters) {
      if (text.substr(i, 2) == letters.letters) {
        rights |= letters.rights;
        known = true;
        break;
      }
    }
    if (!known) return std::nullopt;
  }
  return rights;
}

bool ReadAceFlags(std::string_view text, AccessEntry& entry) {
  if (text.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const std::string_view flag = text.substr(i, 2);
    if (flag == "IO") entry.inheritOnly = true;
    else if (flag == "ID") entry.inherited = true;
    else if (flag != "OI" && flag != "CI" && flag != "NP" && flag != "SA" && flag != "FA" && flag != "TP" &&
             flag != "CR") {
      return false;
    }
  }
  return true;
}

// The text of one ACE, after its "(" up to the matching ")"; a condition may hold parentheses
// and quoted strings of its own.
std::optional<std::string_view> TakeAce(Cursor& cursor) {
  const std::size_t start = cursor.At();
  cursor.Skip(1);
  int depth = 1;
  bool quoted = false;
  std::size_t length = 0;
  for (char c = cursor.Peek(); c != '\0'; c = cursor.Peek(++length)) {
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    if (c == '(') ++depth;
    if (c == ')' && --depth == 0) {
      const std::string_view ace = cursor.Take(length);
      cursor.Skip(1);
      return ace;
    }
  }
  cursor.MoveTo(start);
  cursor.Fail("an ACE without its closing parenthesis");
  return std::nullopt;
}

std::vector<std::string_view> SplitFields(std::string_view ace) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  // The sixth field is the SID; a condition or attribute after it is kept whole in a seventh.
  while (fields.size() < 6) {
    const std::size_t end = ace.find(';', start);
    if (end == std::string_view::npos) break;
    fields.push_back(ace.substr(start, end - start));
    start = end + 1;
  }
  fields.push_back(ace.substr(start));
  return fields;
}

bool ReadAce(std::string_view text, AccessEntry& entry, std::string& why) {
  const std::vector<std::string_view> fields = SplitFields(text);
  if (fields.size() < 6) {
    why = "an ACE with fewer than six fields";
    return false;
  }
  const std::string_view type = fields[0];
  if (type == "A") entry.kind = AceKind::Allow;
  else if (type == "D") entry.kind = AceKind::Deny;
  else if (type == "XA") entry.kind = AceKind::ConditionalAllow;
  else if (type == "XD") entry.kind = AceKind::ConditionalDeny;
  else {
    why = "an ACE of type \"" + std::string(type) + "\" in the DACL";
    return false;
  }
  if (!ReadAceFlags(fields[1], entry)) {
    why = "unknown ACE flags \"" + std::string(fields[1]) + "\"";
    return false;
  }
  const std::optional<std::uint32_t> rights = ReadRights(fields[2]);
  if (!rights) {
    why = "unknown rights \"" + std::string(fields[2]) + "\"";
    return false;
  }
  entry.rights = *rights;
  if (!fields[3].empty() || !fields[4].empty()) {
    why = "an object ACE in a file's DACL";
    return false;
  }
  const std::optional<std::string> sid = ReadSid(fields[5]);
  if (!sid) {
    why = "not a SID: \"" + std::string(fields[5]) + "\"";
    return false;
  }
  entry.sid = *sid;
  return true;
}

// "D:" or "S:" after its letter and colon: flags, then ACEs. The DACL's entries go to
// `descriptor` when `keep` is set.
bool ReadAcl(Cursor& cursor, bool keep, SecurityDescriptorText& descriptor) {
  bool nullAcl = false;
  while (!cursor.AtEnd() && cursor.Peek() != '(' && !IsSectionStart(cursor)) {
    if (cursor.Peek() == 'N') {
      constexpr std::string_view kNoAccessControl = "NO_ACCESS_CONTROL";
      if (cursor.Take(kNoAccessControl.size()) != kNoAccessControl) return cursor.Fail("unknown ACL flags");
      nullAcl = true;
    } else if (cursor.Peek() == 'P') {
      cursor.Skip(1);
    } else if (cursor.Peek() == 'A' && (cursor.Peek(1) == 'I' || cursor.Peek(1) == 'R')) {
      cursor.Skip(2);
    } else {
      return cursor.Fail("unknown ACL flags");
    }
  }
  if (keep) descriptor.hasDacl = !nullAcl;
  while (cursor.Peek() == '(') {
    const std::size_t start = cursor.At();
    const std::optional<std::string_view> text = TakeAce(cursor);
    if (!text) return false;
    if (!keep) continue;
    AccessEntry entry;
    std::string why;
    if (!ReadAce(*text, entry, why)) {
      cursor.MoveTo(start);
      return cursor.Fail(why);
    }
    descriptor.dacl.push_back(std::move(entry));
  }
  if (nullAcl && keep && !descriptor.dacl.empty()) return cursor.Fail("a null DACL with entries");
  return true;
}

}  // namespace

std::string ExpandSidAbbreviation(std::string_view sid) {
  for (const Abbreviation& abbreviation : kSidAbbreviations) {
    if (sid == abbreviation.letters) return abbreviation.sid;
  }
  return std::string(sid);
}

std::uint32_t MapGenericFileRights(std::uint32_t rights) {
  std::uint32_t mapped = rights & ~(kGenericAll | kGenericRead | kGenericWrite | kGenericExecute);
  if (rights & kGenericAll) mapped |= 0x1f01ff;      // FILE_ALL_ACCESS
  if (rights & kGenericRead) mapped |= 0x120089;     // FILE_GENERIC_READ
  if (rights & kGenericWrite) mapped |= 0x120116;    // FILE_GENERIC_WRITE
  if (rights & kGenericExecute) mapped |= 0x1200a0;  // FILE_GENERIC_EXECUTE
  return mapped;
}

SddlReading ReadSddl(std::string_view sddl) {
  Cursor cursor(sddl);
  SecurityDescriptorText descriptor;
  bool seen[4] = {false, false, false, false};
  while (!cursor.AtEnd()) {
    if (!IsSectionStart(cursor)) {
      cursor.Fail("expected O:, G:, D: or S:");
      break;
    }
    const char section = cursor.Peek();
    const int index = section == 'O' ? 0 : section == 'G' ? 1 : section == 'D' ? 2 : 3;
    if (seen[index]) {
      cursor.Fail(std::string("a second ") + section + ": section");
      break;
    }
    seen[index] = true;
    cursor.Skip(2);
    if (section == 'O' || section == 'G') {
      const std::optional<std::string> sid = ReadSectionSid(cursor);
      if (!sid) break;
      if (section == 'O') descriptor.owner = *sid;
    } else if (!ReadAcl(cursor, section == 'D', descriptor)) {
      break;
    }
  }
  SddlReading reading;
  if (!cursor.Error().empty()) {
    reading.error = cursor.Error();
    reading.position = cursor.ErrorAt();
    return reading;
  }
  reading.descriptor = std::move(descriptor);
  return reading;
}

}  // namespace velmora::app
