#include "SjisTextGenerator.h"

#include <iterator>

namespace {

struct LeadBlock {
    unsigned firstLead, lastLead;
    unsigned firstTrail, lastTrail; // of the block's last lead byte; the others take every trail
};

// The double-byte blocks of code page 932.
const LeadBlock kBlocks[] = {
    {0x81, 0x84, 0x40, 0xFC}, // symbols, digits, Latin, kana, Greek, Cyrillic, box drawing
    {0x87, 0x87, 0x40, 0x9C}, // NEC row 13: circled digits, Roman numerals, units
    {0x88, 0x9F, 0x40, 0xFC}, // JIS X 0208 kanji, first half
    {0xE0, 0xEA, 0x40, 0xA4}, // JIS X 0208 kanji, second half
    {0xED, 0xEE, 0x40, 0xFC}, // NEC-selected IBM extensions
    {0xF0, 0xF9, 0x40, 0xFC}, // user-defined area
    {0xFA, 0xFC, 0x40, 0x4B}, // IBM extensions
};

} // namespace

unsigned SjisTextGenerator::Uniform(unsigned low, unsigned high) {
    return std::uniform_int_distribution<unsigned>(low, high)(m_random);
}

void SjisTextGenerator::AppendPair(std::string& out) {
    const LeadBlock& block = kBlocks[Uniform(0, std::size(kBlocks) - 1)];
    const unsigned lead = Uniform(block.firstLead, block.lastLead);
    const unsigned lastTrail = lead == block.lastLead ? block.lastTrail : 0xFC;
    unsigned trail;
    do
        trail = Uniform(0x40, lastTrail);
    while (trail == 0x7F);
    out.push_back(static_cast<char>(lead));
    out.push_back(static_cast<char>(trail));
}

void SjisTextGenerator::AppendSingle(std::string& out) {
    const unsigned kind = Uniform(0, 9);
    if (kind < 5) {
        out.push_back(static_cast<char>(Uniform(0x20, 0x7E)));
    } else if (kind < 6) {
        unsigned c;
        do
            c = Uniform(0x01, 0x7F);
        while (c == 0x1B);
        out.push_back(static_cast<char>(c));
    } else if (kind < 8) {
        out.push_back(static_cast<char>(Uniform(0xA1, 0xDF)));
    } else if (kind < 9) {
        static const char* const kLineEnds[] = {"\r\n", "\r", "\n"};
        out += kLineEnds[Uniform(0, 2)];
    } else {
        out.push_back(' ');
    }
}

std::string SjisTextGenerator::Next(std::size_t maxCharacters, std::size_t maxRun) {
    const std::size_t characters = Uniform(0, static_cast<unsigned>(maxCharacters));
    // Some texts are mostly Japanese, some mostly ASCII.
    const unsigned pairShare = Uniform(0, 10);
    std::string out;
    std::size_t run = 0;
    for (std::size_t i = 0; i < characters; ++i) {
        if (run < maxRun && Uniform(1, 10) <= pairShare) {
            AppendPair(out);
            ++run;
        } else {
            AppendSingle(out);
            run = 0;
        }
    }
    return out;
}

std::string SjisTextGenerator::NextBytes(std::size_t maxLength) {
    std::string out(Uniform(0, static_cast<unsigned>(maxLength)), '\0');
    for (char& c : out)
        c = static_cast<char>(Uniform(1, 255));
    return out;
}

std::string SjisTextGenerator::NextRun(std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i)
        AppendPair(out);
    return out;
}
