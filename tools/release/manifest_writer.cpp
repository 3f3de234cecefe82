#include "manifest_writer.h"

#include "json/json_document.h"
#include "release_text.h"
#include "update/manifest_freshness.h"

namespace velmora::release {
namespace {

std::u16string Ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

}  // namespace

std::string WriteManifest(const ManifestContent& content, ManifestEncoding encoding) {
  json::JsonDocument document;
  document.Reset({});  // an empty object as the root
  document.SetTextWide(u"run", content.run);
  if (content.serial) document.SetInt64Wide(u"serial", *content.serial);
  if (content.expires) document.SetTextWide(u"expires", Ascii(update::FormatUtcTime(*content.expires)));
  if (!content.channel.empty()) document.SetTextWide(u"channel", Ascii(content.channel));
  if (content.rollout) document.SetInt64Wide(u"rollout", *content.rollout);
  if (content.rolloutSerial) document.SetInt64Wide(u"rolloutSerial", *content.rolloutSerial);
  if (content.healthSeconds > 0) document.SetInt64Wide(u"healthSeconds", content.healthSeconds);
  if (!content.mirrors.empty()) {
    document.SetArrayWide(u"mirrors");
    for (std::size_t i = 0; i < content.mirrors.size(); ++i) {
      document.SetTextWide(u"mirrors[" + Ascii(std::to_string(i)) + u"]", Ascii(content.mirrors[i]));
    }
  }
  document.SetArrayWide(u"data");
  for (std::size_t i = 0; i < content.entries.size(); ++i) {
    const ManifestEntry& entry = content.entries[i];
    const std::u16string element = u"data[" + Ascii(std::to_string(i)) + u"].";
    document.SetTextWide(element + u"name", entry.name);
    document.SetTextWide(element + u"md5", Ascii(entry.md5));
    document.SetTextWide(element + u"url", Ascii(entry.url));
    document.SetTextWide(element + u"path", entry.path);
    document.SetInt64Wide(element + u"size", static_cast<std::int64_t>(entry.size));
    if (!entry.sha256.empty()) document.SetTextWide(element + u"sha256", Ascii(entry.sha256));
    if (entry.delta) {
      const DeltaMember& delta = *entry.delta;
      const std::u16string member = element + u"delta.";
      document.SetTextWide(member + u"index", Ascii(delta.indexUrl));
      document.SetInt64Wide(member + u"indexSize", static_cast<std::int64_t>(delta.indexSize));
      document.SetTextWide(member + u"indexSha256", Ascii(delta.indexSha256));
      document.SetInt64Wide(member + u"headSize", static_cast<std::int64_t>(delta.headSize));
      document.SetTextWide(member + u"headSha256", Ascii(delta.headSha256));
      document.SetTextWide(member + u"pack", Ascii(delta.packUrl));
      document.SetInt64Wide(member + u"packSize", static_cast<std::int64_t>(delta.packSize));
      document.SetTextWide(member + u"packSha256", Ascii(delta.packSha256));
    }
  }
  if (encoding == ManifestEncoding::Gbk) return document.ToJson();
  return Utf8Of(document.ToJsonWide());
}

}  // namespace velmora::release
