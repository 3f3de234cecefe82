"""Task-dialog notices of every kind, shown by the program's notice code (through ui-probe) under a
locale whose code page is not 936: the Chinese texts must still arrive intact."""

import velmora_e2e as e2e
from velmora_e2e import IDCANCEL, IDNO, IDOK, IDYES

# A Windows whose ANSI code page is not 936 (Wine takes it from the locale; C.UTF-8 gives 1252).
WESTERN_LOCALE = {"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"}

MAIN = "更新完成"
CONTENT = "[确定]运行软件 [取消]退出更新"

# kind -> (the push buttons it shows, the button the test presses)
KINDS = {
    1: ({IDOK}, IDOK),
    2: ({IDOK}, IDOK),
    3: ({IDOK, IDCANCEL}, IDOK),
    4: ({IDYES, IDNO, IDCANCEL}, IDNO),
    5: ({IDOK}, IDOK),
    6: ({IDOK}, IDOK),
    7: ({IDOK}, IDOK),
    8: ({IDYES, IDNO}, IDYES),
}


class NoticeTest(e2e.WineTestCase):
    def setUp(self):
        super().setUp()
        self.assertNotEqual(self.wine.probe("code-pages", env=WESTERN_LOCALE)["ansi"], 936)

    def show(self, command, kind, *texts):
        """Starts a notice in its own ui-probe and returns (that probe, the dialog's description)."""
        shower = self.wine.start_probe(command, kind, *map(e2e.hex_text, texts), env=WESTERN_LOCALE)
        answer = self.wine.probe("notice", "--wait", "20000", timeout=60, check=False)
        if "notice" not in answer:  # the message ends the probe showing it: only once the test has failed
            self.fail(f"no notice; the probe showing it answered {self.wine.output_of(shower, 1)} (None: it still ran); "
                      f"Wine said to it: {self.wine.errors_of(shower)!r}, to the looking probe: {answer}")
        return shower, answer["notice"]

    def test_each_kind_shows_its_buttons_and_returns_the_pressed_one(self):
        for kind, (buttons, pressed) in KINDS.items():
            with self.subTest(kind=kind):
                extra = ["记住我的选择"] if kind == 8 else []
                shower, notice = self.show("task-notice", str(kind), e2e.NOTICE_TITLE, MAIN, CONTENT, *extra)
                self.assertEqual(notice["window"]["title"], e2e.NOTICE_TITLE)
                self.assertEqual(notice["mainInstruction"], MAIN)
                self.assertEqual(notice["content"], CONTENT)
                push = {b["id"] for b in notice["buttons"] if not b["checkBox"]}
                self.assertEqual(push, buttons)
                boxes = [b for b in notice["buttons"] if b["checkBox"]]
                if kind == 8:
                    self.assertEqual([b["caption"] for b in boxes], ["记住我的选择"])
                    self.wine.probe("notice-check")
                    self.wine.wait_for(lambda: [b for b in self.wine.probe("notice")["notice"]["buttons"]
                                                if b["checkBox"] and b["checked"]], message="checked box")
                else:
                    self.assertEqual(boxes, [])
                if kind == 3:
                    e2e.screenshot("e2e-notice.png", notice["window"]["frame"])
                self.wine.probe("notice-press", str(pressed))
                answer = self.wine.answer_of(shower)
                self.assertEqual(answer["result"], pressed)
                self.assertEqual(answer["checked"], kind == 8)

    def test_closing_a_question_counts_as_cancel(self):
        shower, _ = self.show("task-notice", "3", e2e.NOTICE_TITLE, MAIN, CONTENT)
        self.wine.probe("notice-close")
        self.assertEqual(self.wine.answer_of(shower)["result"], IDCANCEL)

    def test_unknown_kinds_show_nothing(self):
        for kind in ("0", "9"):
            with self.subTest(kind=kind):
                answer = self.wine.probe("task-notice", kind, *map(e2e.hex_text, (e2e.NOTICE_TITLE, MAIN, CONTENT)),
                                         env=WESTERN_LOCALE)
                self.assertEqual(answer["result"], -1)

    def test_show_notice_without_main_instruction_uses_the_default(self):
        shower, notice = self.show("show-notice", "2", "", "没有需要更新的文件")
        self.assertEqual(notice["window"]["title"], e2e.NOTICE_TITLE)
        self.assertEqual(notice["mainInstruction"], "叮叮(〃'▽'〃)")
        self.assertEqual(notice["content"], "没有需要更新的文件")
        self.wine.probe("notice-press", str(IDOK))
        self.assertEqual(self.wine.answer_of(shower)["result"], IDOK)


if __name__ == "__main__":
    import unittest
    unittest.main()
