#include "notify/task_notice.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/task_dialog.h"
#include "text/encoding.h"

namespace velmora::notify {
namespace {

using namespace platform;

class RecordingPresenter : public TaskDialogPresenter {
 public:
  std::vector<TaskDialogRequest> shown;
  TaskDialogResult answer{kIdOk, false};
  TaskDialogResult Show(const TaskDialogRequest& request) override {
    shown.push_back(request);
    return answer;
  }
};

class TaskNoticeTest : public ::testing::Test {
 protected:
  void SetUp() override { ReplaceTaskDialogPresenter(&presenter); }
  void TearDown() override { ReplaceTaskDialogPresenter(nullptr); }
  RecordingPresenter presenter;
};

TEST_F(TaskNoticeTest, EachKindHasItsIconAndButtons) {
  struct Case {
    std::int32_t kind;
    std::uint16_t icon;
    std::uint32_t buttons;
  };
  const std::vector<Case> cases = {
      {1, 0xFFF8, kTdcbfOkButton},
      {2, 0xFFF9, kTdcbfOkButton},
      {3, 0xFFFD, kTdcbfOkButton | kTdcbfCancelButton},
      {4, 0xFFFD, kTdcbfYesButton | kTdcbfNoButton | kTdcbfCancelButton},
      {5, 0xFFFA, kTdcbfOkButton},
      {6, 0xFFF7, kTdcbfOkButton},
      {7, 0xFFFB, kTdcbfOkButton},
      {8, 0xFFFD, kTdcbfYesButton | kTdcbfNoButton},
  };
  for (const Case& c : cases) {
    const auto request = BuildNoticeRequest(c.kind, "t", "m", "c", 0, "");
    ASSERT_TRUE(request) << c.kind;
    EXPECT_EQ(request->mainIcon, c.icon) << c.kind;
    EXPECT_EQ(request->commonButtons, c.buttons) << c.kind;
    EXPECT_EQ(request->flags, c.kind == 8 ? (kTdfPositionRelativeToWindow | kTdfNoDefaultRadioButton)
                                          : kTdfPositionRelativeToWindow)
        << c.kind;
    EXPECT_EQ(request->verification, c.kind == 8) << c.kind;
  }
}

TEST_F(TaskNoticeTest, UnknownKindsShowNothing) {
  for (const std::int32_t kind : {0, 9, -1, 100}) {
    EXPECT_EQ(TaskNotice(kind, kNoticeTitle, "m", "c"), kNothingShown) << kind;
  }
  EXPECT_TRUE(presenter.shown.empty());
}

TEST_F(TaskNoticeTest, TextsAreReadAsCodePage936WhateverTheSystemCodePage) {
  // The Windows run of this test happens under a western locale (code page 1252): converting with
  // the system's code page would turn these GBK bytes into Latin letters.
  presenter.answer = {kIdCancel, false};
  const std::string title = text::Utf8ToNarrow("Velmora - 更新");
  EXPECT_EQ(TaskNotice(3, title, text::Utf8ToNarrow("更新完成"), text::Utf8ToNarrow("[确定]运行软件 [取消]退出更新"), 42),
            kIdCancel);
  ASSERT_EQ(presenter.shown.size(), 1u);
  const TaskDialogRequest& shown = presenter.shown[0];
  EXPECT_EQ(shown.windowTitle, u"Velmora - 更新");
  EXPECT_EQ(shown.mainInstruction, u"更新完成");
  EXPECT_EQ(shown.content, u"[确定]运行软件 [取消]退出更新");
  EXPECT_EQ(shown.owner, 42u);
}

TEST_F(TaskNoticeTest, ShowNoticeUsesTheFixedTitleAndTheDefaultMainInstruction) {
  ShowNotice(2, "", text::Utf8ToNarrow("没有需要更新的文件"));
  ShowNotice(2, text::Utf8ToNarrow("更新失败"), "");
  ASSERT_EQ(presenter.shown.size(), 2u);
  EXPECT_EQ(presenter.shown[0].windowTitle, u"Velmora - Update");
  EXPECT_EQ(presenter.shown[0].mainInstruction, u"叮叮(〃'▽'〃)");
  EXPECT_EQ(presenter.shown[1].mainInstruction, u"更新失败");
  EXPECT_EQ(presenter.shown[1].content, u"") << "an empty text stays an empty string";
}

TEST_F(TaskNoticeTest, KindEightReportsItsCheckBox) {
  presenter.answer = {kIdYes, true};
  VerificationCheck check{text::Utf8ToNarrow("不再提醒"), false};
  EXPECT_EQ(TaskNotice(8, kNoticeTitle, "m", "c", 0, &check), kIdYes);
  EXPECT_TRUE(check.checked);
  EXPECT_EQ(presenter.shown.at(0).verificationText, u"不再提醒");

  // Other kinds leave the check box alone.
  VerificationCheck untouched{"x", false};
  TaskNotice(1, kNoticeTitle, "m", "c", 0, &untouched);
  EXPECT_FALSE(untouched.checked);
  EXPECT_FALSE(presenter.shown.at(1).verification);
}

}  // namespace
}  // namespace velmora::notify
