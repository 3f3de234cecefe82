// The window `Update`: its design values and the grid's columns.
#pragma once

#include "platform/window.h"

namespace velmora::update {

// Grid columns (0-based), as the update check and the downloads address them.
enum GridColumnIndex : int {
  kColumnNumber = 0,    // 序号: row number, no width
  kColumnFileName = 1,  // 文件名: the entry's path
  kColumnProgress = 2,  // 进度: progress cell 0-100, no width
  kColumnSpeed = 3,     // 速度
  kColumnSize = 4,      // 文件大小
  kColumnReceived = 5,  // 已下载
  kColumnElapsed = 6,   // 耗时: no width
  kColumnStatus = 7,    // 状态: the rest of the grid's width
};

// Caption "Update", 505 x 315, the grid 高级表格_更新列表 (500 x 250, 8 columns, rows 24 high) on top,
// the strip 外形框64 (496 x 30) below it holding the button 按钮_开始下载 ("开始下载", 微软雅黑 -12,
// weight 400, GB2312), the timer 时钟1 stopped. Texts are GBK.
const platform::WindowDesign& UpdateWindowDesign();

}  // namespace velmora::update
