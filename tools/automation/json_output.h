// A small JSON writer for the probe's answers (UTF-8 text in, one JSON object out).
#pragma once

#include <string>
#include <vector>

#include "automation/window_automation.h"

namespace velmora::probe {

std::string Quote(const std::string& utf8);

class JsonObject {
 public:
  JsonObject& Add(const std::string& key, const std::string& value);
  JsonObject& Add(const std::string& key, const char* value) { return Add(key, std::string(value)); }
  JsonObject& Add(const std::string& key, long long value);
  JsonObject& Add(const std::string& key, int value) { return Add(key, static_cast<long long>(value)); }
  JsonObject& Add(const std::string& key, unsigned value) { return Add(key, static_cast<long long>(value)); }
  JsonObject& Add(const std::string& key, bool value);
  JsonObject& AddRaw(const std::string& key, const std::string& json);
  std::string Text() const { return "{" + body_ + "}"; }

 private:
  std::string body_;
};

std::string JsonArray(const std::vector<std::string>& jsonItems);
std::string RectJson(const platform::Rect& rect);
std::string WindowJson(const platform::automation::WindowInfo& window);
std::string ButtonJson(const platform::automation::ButtonInfo& button);
std::string GridJson(const platform::automation::GridInfo& grid);
std::string TaskDialogJson(const platform::automation::TaskDialogInfo& dialog);

}  // namespace velmora::probe
