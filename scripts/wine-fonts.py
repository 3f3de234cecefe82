#!/usr/bin/env python3
"""Writes the registry file that makes Wine draw Chinese text in its UI fonts.

The UI fonts are linked to WenQuanYi Micro Hei (SystemLink), and the Chinese and English names of
Microsoft YaHei, which the program asks for, are mapped to it (FontSubstitutes). The file is UTF-16
so that regedit reads the Chinese value name as it is, whatever the locale.
"""
import sys

LINK = "wqy-microhei.ttc,WenQuanYi Micro Hei"
FAMILY = "WenQuanYi Micro Hei"
LINKED_FONTS = ["Tahoma", "Tahoma Bold", "Segoe UI", "MS Shell Dlg", "MS Shell Dlg 2", "Microsoft Sans Serif", "SimSun"]
SUBSTITUTED = ["\u5fae\u8f6f\u96c5\u9ed1", "Microsoft YaHei", "Microsoft YaHei UI"]


def multi_string(value: str) -> str:
    data = (value + "\0\0").encode("utf-16-le")
    return "hex(7):" + ",".join(f"{b:02x}" for b in data)


def main() -> None:
    lines = ["Windows Registry Editor Version 5.00", ""]
    lines.append(r"[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink]")
    lines += [f'"{font}"={multi_string(LINK)}' for font in LINKED_FONTS]
    lines.append("")
    lines.append(r"[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]")
    lines += [f'"{font}"="{FAMILY}"' for font in SUBSTITUTED]
    lines.append("")
    with open(sys.argv[1], "wb") as out:
        out.write("\ufeff".encode("utf-16-le"))
        out.write("\r\n".join(lines).encode("utf-16-le"))


if __name__ == "__main__":
    main()
