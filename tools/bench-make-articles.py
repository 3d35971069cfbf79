#!/usr/bin/env python3
"""Writes N news articles of about 1.5 KB each into DIR as 000001.art, 000002.art, ... for the
header download benchmark (tools/bench-header-download.sh). The headers look like a busy group's:
about one poster in twenty is new, a third of names and subjects are Japanese encoded words, most
articles are replies whose References grow along their thread, some References are folded onto
TAB lines.

    bench-make-articles.py N DIR [--seed S] [--size BYTES]

--size sets the size each article is filled up to (default 1450, the header download's ~1.5 KB;
the synchronisation benchmark uses 3000).
"""

import argparse
import base64
import os
import random

JA_NAMES = ["山田太郎", "鈴木花子", "田中一郎", "佐藤次郎", "高橋三郎", "伊藤美咲", "渡辺健", "小林直子"]
JA_WORDS = ["勉強会", "記事", "表示", "設定", "文字化け", "改行", "質問", "回答", "予定", "報告",
            "ニュースリーダー", "ヘッダー", "スレッド", "秋葉原", "日本語"]
EN_WORDS = ["editor", "newsreader", "threading", "headers", "server", "question", "update",
            "release", "notes", "folding", "encoding", "group", "archive", "spool", "reply"]


def encoded_word(text):
    jis = text.encode("iso2022_jp")
    return "=?ISO-2022-JP?B?" + base64.b64encode(jis).decode("ascii") + "?="


def poster(rng, i):
    address = "user%d@host%d.example.org" % (i, i % 97)
    if i % 3 == 0:
        return "%s <%s>" % (encoded_word(rng.choice(JA_NAMES) + str(i % 10)), address)
    if i % 3 == 1:
        return "Poster %d <%s>" % (i, address)
    return "%s (Poster %d)" % (address, i)


def subject(rng, n):
    if n % 3 == 0:
        return encoded_word("".join(rng.choice(JA_WORDS) for _ in range(3)) + "について")
    return " ".join(rng.choice(EN_WORDS) for _ in range(5)).capitalize()


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("count", type=int)
    p.add_argument("dir")
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--size", type=int, default=1450)
    a = p.parse_args()
    rng = random.Random(a.seed)
    os.makedirs(a.dir, exist_ok=True)
    posters = []
    threads = []  # each: list of Message-IDs from its root on
    for n in range(1, a.count + 1):
        if not posters or rng.random() < 0.05:
            posters.append(poster(rng, len(posters)))
        frm = rng.choice(posters)
        mid = "<%d.%08x@bench.example.org>" % (n, rng.getrandbits(32))
        refs = []
        if threads and rng.random() < 0.7:
            thread = rng.choice(threads[-200:])
            refs = thread[-6:]
            thread.append(mid)
            subj = "Re: " + thread_subjects[id(thread)]
        else:
            thread = [mid]
            threads.append(thread)
            subj = subject(rng, n)
            thread_subjects[id(thread)] = subj
        lines = [
            "Path: news.example.org!feeder.example.net!not-for-mail",
            "From: " + frm,
            "Newsgroups: quillo.bench",
            "Subject: " + subj,
            "Date: Mon, %d Jan 2024 %02d:%02d:%02d +0900" % (1 + n % 28, n % 24, n % 60, n % 59),
            "Organization: Quillo benchmark",
            "Lines: 12",
            "Message-ID: " + mid,
        ]
        if refs:
            if len(refs) > 2 and n % 4 == 0:
                lines.append("References: " + " ".join(refs[:2]))
                lines.append("\t" + " ".join(refs[2:]))
            else:
                lines.append("References: " + " ".join(refs))
        lines += [
            "NNTP-Posting-Host: host%d.example.org" % (n % 251),
            "MIME-Version: 1.0",
            "Content-Type: text/plain; charset=ISO-2022-JP",
            "Content-Transfer-Encoding: 7bit",
            "User-Agent: Quillo-bench/1.0",
            "X-Trace: news.example.org 17050%05d 12345 192.0.2.%d" % (n % 100000, n % 250),
        ]
        body = []
        size = sum(len(l) + 1 for l in lines)
        while size < a.size:
            line = " ".join(rng.choice(EN_WORDS) for _ in range(10))
            body.append(line)
            size += len(line) + 1
        with open(os.path.join(a.dir, "%06d.art" % n), "w", encoding="ascii") as f:
            f.write("\n".join(lines) + "\n\n" + "\n".join(body) + "\n")


thread_subjects = {}

if __name__ == "__main__":
    main()
