#include "automation/json_output.h"

#include <cstdio>

namespace velmora::probe {

using namespace platform::automation;

std::string Quote(const std::string& utf8) {
  std::string out = "\"";
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

JsonObject& JsonObject::AddRaw(const std::string& key, const std::string& json) {
  if (!body_.empty()) body_ += ",";
  body_ += Quote(key) + ":" + json;
  return *this;
}

JsonObject& JsonObject::Add(const std::string& key, const std::string& value) { return AddRaw(key, Quote(value)); }
JsonObject& JsonObject::Add(const std::string& key, long long value) { return AddRaw(key, std::to_string(value)); }
JsonObject& JsonObject::Add(const std::string& key, bool value) { return AddRaw(key, value ? "true" : "false"); }

std::string JsonArray(const std::vector<std::string>& jsonItems) {
  std::string out = "[";
  for (std::size_t i = 0; i < jsonItems.size(); ++i) out += (i ? "," : "") + jsonItems[i];
  return out + "]";
}

std::string RectJson(const platform::Rect& rect) {
  return JsonObject().Add("x", rect.x).Add("y", rect.y).Add("width", rect.width).Add("height", rect.height).Text();
}

std::string WindowJson(const WindowInfo& window) {
  return JsonObject()
      .Add("handle", static_cast<long long>(window.handle))
      .Add("pid", window.processId)
      .Add("title", window.title)
      .Add("className", window.className)
      .AddRaw("frame", RectJson(window.frame))
      .Add("clientWidth", window.clientWidth)
      .Add("clientHeight", window.clientHeight)
      .Add("visible", window.visible)
      .Add("minimised", window.minimised)
      .Add("enabled", window.enabled)
      .Add("foreground", window.foreground)
      .Add("active", window.active)
      .Add("minimiseBox", window.hasMinimiseBox)
      .Add("maximiseBox", window.hasMaximiseBox)
      .Add("resizable", window.resizable)
      .Add("owned", window.hasOwner)
      .Add("screenWidth", window.screenWidth)
      .Add("screenHeight", window.screenHeight)
      .Text();
}

std::string ButtonJson(const ButtonInfo& button) {
  return JsonObject()
      .Add("handle", static_cast<long long>(button.handle))
      .Add("id", button.id)
      .Add("caption", button.caption)
      .Add("enabled", button.enabled)
      .Add("checkBox", button.checkBox)
      .Add("checked", button.checked)
      .AddRaw("bounds", RectJson(button.bounds))
      .Text();
}

std::string GridJson(const GridInfo& grid) {
  std::vector<std::string> columns;
  for (const ColumnInfo& column : grid.columns) {
    const char* alignment = column.alignment == platform::ColumnAlignment::Centre  ? "centre"
                            : column.alignment == platform::ColumnAlignment::Right ? "right"
                                                                                   : "left";
    columns.push_back(
        JsonObject().Add("header", column.header).Add("width", column.width).Add("alignment", alignment).Text());
  }
  std::vector<std::string> rows;
  for (const auto& row : grid.rows) {
    std::vector<std::string> cells;
    for (const std::string& cell : row) cells.push_back(Quote(cell));
    rows.push_back(JsonArray(cells));
  }
  return JsonObject()
      .AddRaw("bounds", RectJson(grid.bounds))
      .Add("clientWidth", grid.clientWidth)
      .Add("rowHeight", grid.rowHeight)
      .Add("rowCount", grid.rowCount)
      .Add("firstRow", grid.firstRow)
      .AddRaw("columns", JsonArray(columns))
      .AddRaw("rows", JsonArray(rows))
      .Text();
}

std::string TaskDialogJson(const TaskDialogInfo& dialog) {
  std::vector<std::string> texts;
  for (const std::string& text : dialog.texts) texts.push_back(Quote(text));
  std::vector<std::string> buttons;
  for (const ButtonInfo& button : dialog.buttons) buttons.push_back(ButtonJson(button));
  return JsonObject()
      .AddRaw("window", WindowJson(dialog.window))
      .Add("mainInstruction", dialog.mainInstruction)
      .Add("content", dialog.content)
      .AddRaw("texts", JsonArray(texts))
      .AddRaw("buttons", JsonArray(buttons))
      .Text();
}

}  // namespace velmora::probe
