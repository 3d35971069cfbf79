#!/usr/bin/env python3
"""Writes ../NN-name.art, the articles in other charsets, from the texts below.

In a header, {B:charset:text} becomes one RFC 2047 B encoded word of text in that charset and
{Q:charset:text} one Q word ("_" for a blank). A body is given as Unicode text with the charset
and transfer encoding it is written in: "8bit" writes the charset's bytes as they are, "base64"
and "quoted-printable" encode them. Lines end with LF, as the loader expects.
"""

import base64
import os
import quopri
import re

HERE = os.path.dirname(os.path.abspath(__file__))
WORD = re.compile(r"\{([BQ]):([^:}]+):([^}]*)\}")


def encoded_word(m):
    kind, charset, text = m.group(1), m.group(2), m.group(3)
    data = text.encode(charset)
    if kind == "B":
        return "=?%s?B?%s?=" % (charset, base64.b64encode(data).decode("ascii"))
    q = "".join("_" if b == 0x20 else chr(b) if 0x21 <= b < 0x7F and chr(b) not in "=?_"
                else "=%02X" % b for b in data)
    return "=?%s?Q?%s?=" % (charset, q)


def header(lines):
    out = b""
    for line in lines:
        line = WORD.sub(encoded_word, line)
        out += line.encode("ascii") + b"\n"
    return out


def body(text, charset, transfer):
    data = text.encode(charset)
    if transfer == "base64":
        encoded = base64.encodebytes(data.replace(b"\n", b"\r\n"))  # 76-character lines
        return encoded
    if transfer == "quoted-printable":
        return quopri.encodestring(data)
    return data


def article(headers, parts):
    """parts: one (text, charset, transfer) for a single body, or for a multipart body the
    preamble and a list of (part header lines, text, charset, transfer)."""
    return header(headers) + b"\n" + parts


def multipart(boundary, preamble, parts):
    out = preamble.encode("ascii")
    for part_headers, text, charset, transfer in parts:
        out += b"--" + boundary.encode("ascii") + b"\n" + header(part_headers) + b"\n"
        out += body(text, charset, transfer)
        if not out.endswith(b"\n"):
            out += b"\n"
    return out + b"--" + boundary.encode("ascii") + b"--\n"


GROUP = "Newsgroups: quillo.demo.charsets"

ARTICLES = {
    "01-utf8-japanese": article([
        "Path: news.example.jp!not-for-mail",
        "From: {B:UTF-8:山田太郎} <taro@example.jp>",
        GROUP,
        "Subject: {B:UTF-8:UTF-8で書いた記事}",
        "Date: Mon, 22 Jan 2024 10:00:00 +0900",
        "Message-ID: <utf8-ja.20240122@taro.example.jp>",
        "MIME-Version: 1.0",
        "Content-Type: text/plain; charset=UTF-8; format=flowed",
        "Content-Transfer-Encoding: 8bit",
    ], body("山田です。\n"
            "この記事は UTF-8 の 8 ビットで書きました。\n"
            "波ダッシュ〜と全角チルダ～、丸数字①、ハングル한글、アクセント付きのéも入れてあります。\n"
            "。\n"
            "\n"
            "-- \n"
            "山田太郎\n", "utf-8", "8bit")),
    "02-utf8-base64": article([
        "Path: news.example.jp!not-for-mail",
        "From: {Q:UTF-8:鈴木 花子} <hanako@example.jp>",
        GROUP,
        "Subject: {Q:UTF-8:Re: base64 で送られた}",
        "\t{Q:UTF-8:本文の表示}",
        "Date: Mon, 22 Jan 2024 11:30:00 +0900",
        "Message-ID: <utf8-b64.20240122@hanako.example.jp>",
        "MIME-Version: 1.0",
        "Content-Type: text/plain; charset=\"utf-8\"",
        "Content-Transfer-Encoding: base64",
    ], body("鈴木です。\n"
            "本文全体が base64 で符号化されています。\n"
            "一行が長くなっても、七十六文字ごとに折り返された base64 の行を読み手が"
            "つなぎ直して、元の文章が一続きに表示されます。\n", "utf-8", "base64")),
    "03-euc-jp": article([
        "Path: news.example.jp!not-for-mail",
        "From: {B:EUC-JP:佐藤次郎} <jiro@example.ne.jp>",
        GROUP,
        "Subject: {B:EUC-JP:EUC-JPの記事}",
        "Date: Mon, 22 Jan 2024 12:00:00 +0900",
        "Message-ID: <euc.20240122@jiro.example.ne.jp>",
        "MIME-Version: 1.0",
        "Content-Type: text/plain; charset=EUC-JP",
        "Content-Transfer-Encoding: 8bit",
    ], body("佐藤です。\n"
            "古い UNIX の端末から EUC-JP で投稿しています。\n"
            "半角カナもｶﾀｶﾅで書けます。\n", "euc-jp", "8bit")),
    "04-latin1": article([
        "Path: news.example.org!not-for-mail",
        "From: {Q:windows-1252:René Müller} <rene@example.org>",
        GROUP,
        "Subject: {Q:windows-1252:Café crème à Zürich}",
        "Date: Mon, 22 Jan 2024 08:15:00 +0100",
        "Message-ID: <latin1.20240122@rene.example.org>",
        "MIME-Version: 1.0",
        "Content-Type: text/plain; charset=ISO-8859-1",
        "Content-Transfer-Encoding: 8bit",
    ], body("Grüezi mitenand,\n"
            "le café crème coûte 4,50 francs à la gare; ça va très bien.\n"
            "Ñandú, smørrebrød, Ærø.\n", "iso-8859-1", "8bit")),
    "05-utf8-alternative": article([
        "Path: news.example.jp!not-for-mail",
        "From: {B:UTF-8:田中一郎} <ichiro@example.jp>",
        GROUP,
        "Subject: {B:UTF-8:HTMLとテキストの二本立て}",
        "Date: Mon, 22 Jan 2024 13:45:00 +0900",
        "Message-ID: <utf8-alt.20240122@ichiro.example.jp>",
        "MIME-Version: 1.0",
        "Content-Type: multipart/alternative;",
        "\tboundary=\"quillo-u8-7d1e\"",
    ], multipart("quillo-u8-7d1e", "This is a multi-part message in MIME format.\n\n", [
        (["Content-Type: text/plain; charset=UTF-8",
          "Content-Transfer-Encoding: quoted-printable"],
         "田中です。\nQP の部分、\n記号 = も。\n"
         "長い行は七十六文字ごとに軟らかい改行で折り返されますが、読み手がつなぎ直します。\n",
         "utf-8", "quoted-printable"),
        (["Content-Type: text/html; charset=UTF-8",
          "Content-Transfer-Encoding: base64"],
         "<html>\n<head><meta charset=\"utf-8\"></head>\n<body>\n<p>田中です。</p>\n"
         "<p><b>HTML</b>の部分は base64 で送っています。</p>\n</body>\n</html>\n",
         "utf-8", "base64"),
    ])),
    "06-mixed-words": article([
        "Path: news.example.jp!not-for-mail",
        "From: {B:ISO-2022-JP:高橋三郎} <saburo@example.jp>",
        GROUP,
        "Subject: {B:UTF-8:混在} {B:ISO-2022-JP:した件名}",
        "Date: Mon, 22 Jan 2024 15:00:00 +0900",
        "Message-ID: <mixed.20240122@saburo.example.jp>",
        "MIME-Version: 1.0",
        "Content-Type: text/plain; charset=ISO-2022-JP",
        "Content-Transfer-Encoding: 7bit",
    ], body("高橋です。\n"
            "件名の前半は UTF-8、後半は ISO-2022-JP の encoded word です。\n",
            "iso-2022-jp", "8bit")),
}


def main():
    for name, data in sorted(ARTICLES.items()):
        target = os.path.join(HERE, "..", name + ".art")
        with open(target, "wb") as f:
            f.write(data)
        print("wrote " + os.path.normpath(target))


if __name__ == "__main__":
    main()
