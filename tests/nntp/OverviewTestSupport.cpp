#include "OverviewTestSupport.h"

#include "base/AsciiCase.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

std::vector<HeadLines> ReadArticleHeads(const std::string& dir) {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.path().extension() == ".art")
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    std::vector<HeadLines> heads;
    for (const std::string& file : files) {
        std::ifstream in(file, std::ios::binary);
        HeadLines head;
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.empty())
                break;
            head.lines.push_back(line);
        }
        heads.push_back(std::move(head));
    }
    return heads;
}

std::vector<HeadLines> FoldedHeads(const std::string& group, const std::string& tag) {
    // "テスト" and "です" as ISO-2022-JP encoded words, and raw.
    const std::string word1 = "=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=";
    const std::string word2 = "=?ISO-2022-JP?B?GyRCJEckORsoQg==?=";
    const std::string rawJis = "\x1b$B%F%9%H\x1b(B";
    struct Case {
        std::vector<std::string> subject;
        std::vector<std::string> from;
        std::vector<std::string> extra; // Content-Type, References, ...
    };
    const std::vector<Case> cases = {
        {{"Subject: plain words only"}, {"From: Plain <plain@example.org>"}, {}},
        {{"Subject: tab folded", "\tsubject"}, {"From: Tab <tab@example.org>"}, {}},
        {{"Subject: blank folded", " subject"}, {"From: Blank", " <blank@example.org>"}, {}},
        {{"Subject: blanks around ", "   the fold"}, {"From: a@example.org"}, {}},
        {{"Subject: " + word1, "\t" + word2}, {"From: " + word1, " <words@example.org>"}, {}},
        {{"Subject: " + word1, " plain after a word"}, {"From: w@example.org"}, {}},
        {{"Subject: plain before a word", "\t" + word2}, {"From: x@example.org"}, {}},
        {{"Subject: " + word1 + " " + word2 + " on one line"}, {"From: y@example.org"}, {}},
        {{"Subject: ", "\tfolded after the name"}, {"From: z@example.org"}, {}},
        {{"Subject: two  blanks, no fold"}, {"From: two@example.org"}, {}},
        {{"Subject: " + rawJis + " raw", "\t" + rawJis}, {"From: raw@example.org"}, {}},
        {{"Subject: folded content type"},
         {"From: ct@example.org"},
         {"Content-Type: text/plain;", "\tcharset=ISO-2022-JP"}},
        {{"Subject: Re: folded references"},
         {"From: refs@example.org"},
         {"References: <fold-1." + tag + "@example.org>", "  <fold-2." + tag + "@example.org>"}},
        {{"Subject: trailing blank "}, {"From: end@example.org"}, {"Content-Type: text/plain"}},
    };
    std::vector<HeadLines> heads;
    int n = 0;
    for (const Case& c : cases) {
        ++n;
        HeadLines head;
        head.lines = {"Path: news.example.org!not-for-mail"};
        head.lines.insert(head.lines.end(), c.from.begin(), c.from.end());
        head.lines.push_back("Newsgroups: " + group);
        head.lines.insert(head.lines.end(), c.subject.begin(), c.subject.end());
        head.lines.push_back("Date: Mon, 15 Jan 2024 09:00:" + std::to_string(10 + n) + " +0000");
        head.lines.push_back("Message-ID: <fold-" + std::to_string(n) + "." + tag +
                             "@example.org>");
        head.lines.insert(head.lines.end(), c.extra.begin(), c.extra.end());
        heads.push_back(std::move(head));
    }
    return heads;
}

void WriteArticles(const std::vector<HeadLines>& heads, const std::string& dir) {
    int n = 0;
    for (const HeadLines& head : heads) {
        char name[32];
        std::snprintf(name, sizeof name, "/%02d.art", ++n);
        std::ofstream out(dir + name, std::ios::binary);
        for (const std::string& line : head.lines)
            out << line << "\n";
        out << "\nBody of article " << n << ".\n";
    }
}

std::string OverviewValue(const HeadLines& head, std::string_view name) {
    std::string value;
    bool open = false;
    for (const std::string& line : head.lines) {
        const bool fold = !line.empty() && (line.front() == ' ' || line.front() == '\t');
        if (open) {
            if (!fold)
                break;
            value += line;
            continue;
        }
        if (line.size() > name.size() && line[name.size()] == ':' && StartsWithNoCase(line, name)) {
            value = line.substr(name.size() + 1);
            open = true;
        }
    }
    if (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.erase(0, 1);
    std::replace(value.begin(), value.end(), '\t', ' ');
    return value;
}

namespace {

std::string MessageIdOf(const HeadLines& head) {
    return OverviewValue(head, "Message-ID");
}

// "a-b" after the command word; false when there is none.
bool Range(const std::string& line, std::size_t at, int& first, int& last) {
    const char* text = line.c_str() + at;
    char* end = nullptr;
    first = static_cast<int>(std::strtol(text, &end, 10));
    if (end == text || *end != '-')
        return false;
    last = static_cast<int>(std::strtol(end + 1, nullptr, 10));
    return true;
}

std::string Stuffed(const std::string& line) {
    return (line.starts_with(".") ? "." : "") + line + "\r\n";
}

} // namespace

NntpScript ServeOverviewGroup(const std::string& group, std::vector<HeadLines> heads,
                              OverviewServer server) {
    auto served = std::make_shared<std::vector<HeadLines>>(std::move(heads));
    const int count = static_cast<int>(served->size());
    return NntpScript()
        .Send("200 news.example.org InterNetNews NNRP server INN 2.7.1 ready (posting ok)\r\n")
        .OnCommand([served, count, group, server](NntpServerConnection& real,
                                                  const std::string& line) {
            const std::vector<HeadLines>& articles = *served;
            // Sends a reply, or half of it and closes when it is the one to cut.
            struct Sender {
                NntpServerConnection& c;
                bool cut;
                void Send(const std::string& reply) {
                    if (!cut) {
                        c.Send(reply);
                        return;
                    }
                    c.Send(reply.substr(0, reply.size() / 2));
                    c.Close();
                }
            } c{real, !server.cutOn.empty() && line.starts_with(server.cutOn)};
            int first = 0;
            int last = 0;
            if (line == "CAPABILITIES\r\n" && server.capabilities) {
                std::string reply = "101 Capability list:\r\nVERSION 2\r\nREADER\r\n";
                reply += server.over ? "OVER\r\n" : "";
                reply += server.listsHdr ? "HDR\r\n" : "";
                c.Send(reply + ".\r\n");
            } else if (line == "LIST OVERVIEW.FMT\r\n" && server.over) {
                c.Send(std::string("215 Order of fields in overview database\r\nSubject:\r\n"
                                   "From:\r\nDate:\r\nMessage-ID:\r\nReferences:\r\n"
                                   ":bytes\r\n:lines\r\nXref:full\r\n") +
                       (server.contentTypeInOverview ? "Content-Type:full\r\n" : "") + ".\r\n");
            } else if (line == "GROUP " + group + "\r\n") {
                c.Send("211 " + std::to_string(count) + " 1 " + std::to_string(count) + " " +
                       group + "\r\n");
            } else if (server.over && (line.starts_with("OVER ") || line.starts_with("XOVER ")) &&
                       Range(line, line.find(' ') + 1, first, last)) {
                std::string reply = "224 Overview information follows\r\n";
                for (int n = std::max(1, first); n <= std::min(count, last); ++n) {
                    const HeadLines& head = articles[n - 1];
                    reply += std::to_string(n);
                    for (const char* name : {"Subject", "From", "Date", "Message-ID", "References"})
                        reply += "\t" + OverviewValue(head, name);
                    reply +=
                        "\t1500\t20\tXref: news.example.org " + group + ":" + std::to_string(n);
                    if (server.contentTypeInOverview) {
                        const std::string type = OverviewValue(head, "Content-Type");
                        reply += "\t" + (type.empty() ? "" : "Content-Type: " + type);
                    }
                    reply += "\r\n";
                }
                c.Send(reply + ".\r\n");
            } else if (((server.hdr && line.starts_with("HDR Content-Type ")) ||
                        (server.xhdr && line.starts_with("XHDR Content-Type "))) &&
                       Range(line, line.rfind(' ') + 1, first, last)) {
                const bool hdr = line.starts_with("HDR");
                std::string reply = hdr ? "225 Headers follow\r\n" : "221 Header follows\r\n";
                for (int n = std::max(1, first); n <= std::min(count, last); ++n) {
                    const std::string type = OverviewValue(articles[n - 1], "Content-Type");
                    // XHDR leaves out the articles without the header.
                    if (hdr || !type.empty())
                        reply += Stuffed(std::to_string(n) + " " + type);
                }
                c.Send(reply + ".\r\n");
            } else if (line.starts_with("HEAD ")) {
                const int n = std::atoi(line.c_str() + 5);
                if (n < 1 || n > count) {
                    c.Send("423 No such article number " + std::to_string(n) + "\r\n");
                    return;
                }
                std::string reply =
                    "221 " + std::to_string(n) + " " + MessageIdOf(articles[n - 1]) + " head\r\n";
                for (const std::string& header : articles[n - 1].lines)
                    reply += Stuffed(header);
                c.Send(reply + ".\r\n");
            } else if (line == "QUIT\r\n") {
                c.Send("205 Bye!\r\n");
            } else {
                c.Send("500 What?\r\n");
            }
        });
}
