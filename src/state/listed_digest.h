// A digest as a manifest lists it (an entry's `md5` or `sha256`), read once when the manifest is
// loaded, so that the code that checks a file asks it questions instead of reading the text again.
//
// Hex digits in either letter case name the same bytes ("9E107D9D..." and "9e107d9d..."): a digest
// of exactly 2 x Bytes hex digits is "checkable" and kept in lower case. Any other text (a wrong
// length, a character that is not a hex digit, nothing at all) cannot be checked: it is kept as
// listed, hex digits lowered (a GBK text may hold bytes that look like upper-case letters inside
// its characters, and those are never changed), it
// never names a file's digest, and it lets any file through where an entry's other checks decide.
//
// A small value type: copies copy the text. Reading is thread-safe; nothing here allocates but the
// construction.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmora::state {

template <std::size_t Bytes>
class ListedDigest {
 public:
  ListedDigest() = default;
  // Implicit, as a manifest's text is a listed digest: `entry.md5 = "D41D8CD9..."`.
  ListedDigest(std::string_view listed) : text_(listed), checkable_(listed.size() == 2 * Bytes && IsHex(listed)) {
    // Hex text of another length is lowered too: staging names and the release's identity are
    // made from this text, and stay the same from one version of the updater to the next.
    if (!IsHex(listed)) return;
    for (char& c : text_) {
      if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    }
  }
  ListedDigest(const std::string& listed) : ListedDigest(std::string_view(listed)) {}
  ListedDigest(const char* listed) : ListedDigest(std::string_view(listed)) {}

  // Anything was listed at all.
  bool Listed() const { return !text_.empty(); }
  // A file can be checked against it: 2 x Bytes hex digits.
  bool Checkable() const { return checkable_; }
  // Lower-case hex when checkable, else the text as listed (as the journal and staging records
  // store it).
  const std::string& Text() const { return text_; }

  // A file whose digest is `lowerHex` (lower-case hex, as a fingerprint gives it) is the one
  // listed. Never when the listed text cannot be checked.
  bool Names(std::string_view lowerHex) const { return checkable_ && text_ == lowerHex; }
  // The raw digest `bytes` (HashComputation::Finish) is the listed one. Never when not checkable.
  bool NamesBytes(std::string_view bytes) const {
    if (!checkable_ || bytes.size() != Bytes) return false;
    static constexpr char kHex[] = "0123456789abcdef";
    for (std::size_t i = 0; i < Bytes; ++i) {
      const auto byte = static_cast<unsigned char>(bytes[i]);
      if (text_[2 * i] != kHex[byte >> 4] || text_[2 * i + 1] != kHex[byte & 0x0F]) return false;
    }
    return true;
  }
  // A file with the raw digest `bytes` may be the one listed: it is, or the listed text cannot be
  // checked and leaves the decision to the entry's other checks. An empty `bytes` (a digest that
  // could not be computed) is never accepted.
  bool AcceptsBytes(std::string_view bytes) const { return !bytes.empty() && (!checkable_ || NamesBytes(bytes)); }

  bool operator==(const ListedDigest& other) const { return text_ == other.text_; }

 private:
  static bool IsHex(std::string_view text) {
    for (char c : text) {
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
  }

  std::string text_;
  bool checkable_ = false;
};

using ListedMd5 = ListedDigest<16>;
using ListedSha256 = ListedDigest<32>;

}  // namespace velmora::state
