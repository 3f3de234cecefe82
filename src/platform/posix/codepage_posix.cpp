// Code-page conversion through iconv, matching what Windows gives for the code pages the program
// uses: 936 (GBK, glibc's CP936) and 65001 (UTF-8).
#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>

namespace velmora::platform {
namespace {

constexpr char16_t kReplacementCharacter = 0xFFFD;  // what Windows decodes invalid UTF-8 to
constexpr char kDefaultCharacter = '?';               // Windows' default character for GBK

std::string IconvName(std::uint32_t codePage) {
  switch (codePage) {
    case 0:  // no system code page here: the program's own narrow code page
    case 936:
      return "CP936";
    case 65001:
      return "UTF-8";
    case 1200:
      return "UTF-16LE";
    default:
      return "CP" + std::to_string(codePage);
  }
}

// One iconv descriptor per direction and code page, per thread: opening one costs far more than
// converting a short text, and a descriptor must not be shared between threads.
class Converter {
 public:
  Converter(const std::string& to, const std::string& from) : handle_(iconv_open(to.c_str(), from.c_str())) {}
  ~Converter() {
    if (Valid()) iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool Valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t Handle() const { return handle_; }
  void Reset() { iconv(handle_, nullptr, nullptr, nullptr, nullptr); }

 private:
  iconv_t handle_;
};

Converter* ConverterFor(std::uint32_t codePage, bool toWide) {
  thread_local std::map<std::pair<std::uint32_t, bool>, std::unique_ptr<Converter>> converters;
  auto& slot = converters[{codePage, toWide}];
  if (!slot) {
    const std::string narrow = IconvName(codePage);
    slot = toWide ? std::make_unique<Converter>("UTF-16LE", narrow) : std::make_unique<Converter>(narrow, "UTF-16LE");
  }
  if (!slot->Valid()) return nullptr;
  slot->Reset();
  return slot.get();
}

bool IsAscii(const char* data, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    if (static_cast<unsigned char>(data[i]) >= 0x80) return false;
  }
  return true;
}

}  // namespace

std::u16string MultiByteToWide(std::string_view bytes, std::uint32_t codePage) {
  if (bytes.empty()) return {};
  // Every code page the program uses keeps ASCII as it is.
  if (IsAscii(bytes.data(), bytes.size())) return std::u16string(bytes.begin(), bytes.end());

  Converter* converter = ConverterFor(codePage, true);
  if (converter == nullptr) return {};
  std::u16string wide(bytes.size(), u'\0');  // never more units than bytes
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  char* out = reinterpret_cast<char*>(wide.data());
  std::size_t outLeft = wide.size() * sizeof(char16_t);
  const char16_t invalid = codePage == 65001 ? kReplacementCharacter : char16_t(kDefaultCharacter);
  while (inLeft > 0) {
    if (iconv(converter->Handle(), &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1)) break;
    if (errno != EILSEQ && errno != EINVAL) return {};
    // An invalid or cut-off sequence: one replacement unit for the byte, then go on after it.
    std::memcpy(out, &invalid, sizeof invalid);
    out += sizeof invalid;
    outLeft -= sizeof invalid;
    ++in;
    --inLeft;
    converter->Reset();
  }
  wide.resize(wide.size() - outLeft / sizeof(char16_t));
  return wide;
}

std::string WideToMultiByte(std::u16string_view wide, std::uint32_t codePage) {
  if (wide.empty()) return {};
  bool ascii = true;
  for (char16_t unit : wide) ascii = ascii && unit < 0x80;
  if (ascii) return std::string(wide.begin(), wide.end());

  Converter* converter = ConverterFor(codePage, false);
  if (converter == nullptr) return {};
  std::string narrow(wide.size() * 4, '\0');  // UTF-8 needs at most 3 bytes a unit, GBK 4
  char* in = const_cast<char*>(reinterpret_cast<const char*>(wide.data()));
  std::size_t inLeft = wide.size() * sizeof(char16_t);
  char* out = narrow.data();
  std::size_t outLeft = narrow.size();
  while (inLeft > 0) {
    if (iconv(converter->Handle(), &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1)) break;
    if (errno != EILSEQ && errno != EINVAL) return {};
    // A character the code page cannot hold, or a lone surrogate: the default character.
    if (codePage == 65001) {
      static constexpr char kUtf8Replacement[] = "\xEF\xBF\xBD";
      std::memcpy(out, kUtf8Replacement, 3);
      out += 3;
      outLeft -= 3;
    } else {
      *out++ = kDefaultCharacter;
      --outLeft;
    }
    in += sizeof(char16_t);
    inLeft -= sizeof(char16_t);
    converter->Reset();
  }
  narrow.resize(narrow.size() - outLeft);
  return narrow;
}

}  // namespace velmora::platform
