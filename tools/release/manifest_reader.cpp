#include "manifest_reader.h"

#include <algorithm>

#include "json/json_document.h"
#include "release_text.h"
#include "text/encoding.h"
#include "update/manifest_freshness.h"
#include "update/mirrors.h"

namespace velmora::release {
namespace {

std::u16string Ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// True when `bytes` is well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool IsUtf8(const std::string& bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char lead = static_cast<unsigned char>(bytes[i]);
    std::size_t length = 0;
    std::uint32_t point = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, point = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, point = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, point = lead & 0x07u;
    } else {
      return false;
    }
    if (i + length > bytes.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      point = (point << 6) | (next & 0x3Fu);
    }
    if ((length == 3 && (point < 0x800 || (point >= 0xD800 && point <= 0xDFFF))) ||
        (length == 4 && (point < 0x10000 || point > 0x10FFFF))) {
      return false;
    }
    i += length;
  }
  return true;
}

// "line 3, column 14 (character 57)" for a UTF-16 index into `text`.
std::string PlaceOf(const std::u16string& text, std::int32_t position) {
  std::size_t line = 1;
  std::size_t column = 1;
  const std::size_t end = std::min<std::size_t>(position < 0 ? 0 : static_cast<std::size_t>(position), text.size());
  for (std::size_t i = 0; i < end; ++i) {
    if (text[i] == u'\n') {
      ++line;
      column = 1;
    } else if ((text[i] & 0xFC00) != 0xDC00) {  // the second half of a surrogate pair adds nothing
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column) + " (character " +
         std::to_string(end + 1) + ")";
}

std::string ParseErrorName(json::ParseError error) {
  switch (error) {
    case json::ParseError::NoInput:
      return "no JSON value";
    case json::ParseError::NoMemory:
      return "out of memory";
    case json::ParseError::BadObject:
      return "a malformed object";
    case json::ParseError::Unclosed:
      return "an array, object or text that is not closed";
    case json::ParseError::BadValue:
      return "a value that is not valid";
    case json::ParseError::None:
      break;
  }
  return "an error";
}

OptionalMember MemberOf(const json::JsonDocument& document, const std::u16string& path) {
  OptionalMember member;
  member.kind = document.GetTypeWide(path);
  member.present = member.kind != json::JsonKind::Raw;
  if (member.present) member.text = document.GetTextWide(path);
  return member;
}

}  // namespace

ManifestRecords ReadManifestText(const std::string& bytes, ManifestEncoding encoding) {
  ManifestRecords records;
  // The updater reads up to the first zero byte.
  const std::size_t zero = bytes.find('\0');
  const std::string text = bytes.substr(0, zero);
  if (zero != std::string::npos) {
    records.notes = "the text ends at a zero byte at offset " + std::to_string(zero) +
                    "; the updater reads nothing after it";
  }
  if (text.empty()) {
    records.error = "the manifest is empty (the updater reports \"UpData数据为空\")";
    return records;
  }
  if (encoding == ManifestEncoding::Utf8 && !IsUtf8(text)) {
    records.error = "the text is not valid UTF-8, as the manifest server's must be (is it a hand-off file? "
                    "then add --handoff)";
    return records;
  }
  const std::u16string wide = text::NarrowToWide(text, encoding == ManifestEncoding::Utf8 ? text::Utf8CodePage
                                                                                          : text::NarrowCodePage);
  json::JsonDocument document;
  json::ParseError error = json::ParseError::None;
  std::int32_t position = 0;
  // "\uXXXX" escapes are decoded, as the updater reads them (JSON libraries write them).
  if (!document.ParseWide(wide, true, &error, &position)) {
    records.error = "not valid JSON: " + ParseErrorName(error) + " at " + PlaceOf(wide, position) +
                    " (the updater reports \"UpData数据错误\")";
    return records;
  }
  records.parsed = true;
  records.hasRun = document.ExistsWide(u"run");
  records.run = document.GetTextWide(u"run");
  records.serial = MemberOf(document, u"serial");
  records.expires = MemberOf(document, u"expires");
  records.channel = MemberOf(document, u"channel");
  records.rollout = MemberOf(document, u"rollout");
  records.rolloutSerial = MemberOf(document, u"rolloutSerial");
  records.mirrorsMember = MemberOf(document, u"mirrors");
  records.mirrors = update::ReadMirrors(document).value_or(std::vector<std::string>{});
  const std::int32_t count = document.GetCountWide(u"data");
  records.entries.reserve(static_cast<std::size_t>(count > 0 ? count : 0));
  for (std::int32_t i = 0; i < count; ++i) {
    const std::u16string element = u"data[" + Ascii(std::to_string(i)) + u"].";
    ManifestRecord record;
    record.index = i;
    record.name = document.GetTextWide(element + u"name");
    record.md5 = document.GetTextWide(element + u"md5");
    record.url = document.GetTextWide(element + u"url");
    record.path = document.GetTextWide(element + u"path");
    record.sizeMember = MemberOf(document, element + u"size");
    record.sha256 = MemberOf(document, element + u"sha256");
    record.deltaMember = MemberOf(document, element + u"delta");
    if (record.deltaMember.kind == json::JsonKind::Object) {
      const std::u16string delta = element + u"delta.";
      record.delta = {MemberOf(document, delta + u"index"),      MemberOf(document, delta + u"indexSize"),
                      MemberOf(document, delta + u"indexSha256"), MemberOf(document, delta + u"headSize"),
                      MemberOf(document, delta + u"headSha256"),  MemberOf(document, delta + u"pack"),
                      MemberOf(document, delta + u"packSize"),    MemberOf(document, delta + u"packSha256")};
    }
    // As the updater reads it: decimal digits of a number from 0 to 2^63-1.
    if (record.sizeMember.kind == json::JsonKind::Integer) {
      if (const auto size = update::ParseSerial(Utf8Of(record.sizeMember.text))) {
        record.size = static_cast<std::uint64_t>(*size);
      }
    }
    records.entries.push_back(std::move(record));
  }
  return records;
}

}  // namespace velmora::release
