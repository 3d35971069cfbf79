#!/usr/bin/env python3
"""Writes ../NN-name.art from the UTF-8 sources NN-name.txt in this directory.

In a source, {B:text} becomes one RFC 2047 encoded word "=?ISO-2022-JP?B?...?=" of text, and
every other line holding non-ASCII characters is turned into ISO-2022-JP, line by line, so
each line ends back in ASCII. The conversions are done by iconv.
"""

import base64
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
WORD = re.compile(r"\{B:([^}]*)\}")
ESC_ASCII = b"\x1b(B"


def to_jis(text):
    out = subprocess.run(["iconv", "-f", "UTF-8", "-t", "ISO-2022-JP"], input=text.encode("utf-8"),
                         capture_output=True, check=True).stdout
    if b"\x1b" in out and out[out.rindex(b"\x1b"):][:3] != ESC_ASCII:
        sys.exit("iconv left %r outside ASCII" % text)
    return out


def encoded_word(m):
    word = "=?ISO-2022-JP?B?" + base64.b64encode(to_jis(m.group(1))).decode("ascii") + "?="
    if len(word) > 75:
        sys.exit("encoded word longer than 75 characters: %s" % m.group(1))
    return word


def convert(source):
    out = b""
    for line in open(source, encoding="utf-8").read().split("\n")[:-1]:
        line = WORD.sub(encoded_word, line)
        out += (line.encode("ascii") if line.isascii() else to_jis(line)) + b"\n"
    if any(b > 0x7F for b in out):
        sys.exit("%s: 8-bit bytes left" % source)
    return out


def main():
    for name in sorted(os.listdir(HERE)):
        if name.endswith(".txt"):
            target = os.path.join(HERE, "..", name[:-4] + ".art")
            with open(target, "wb") as f:
                f.write(convert(os.path.join(HERE, name)))
            print("wrote " + os.path.normpath(target))


if __name__ == "__main__":
    main()
