#include "threads/HeaderThreads.h"

#include "HeaderTableWriter.h"
#include "base/SplitString.h"
#include "store/DbTable.h"
#include "store/HeaderStore.h"
#include "support/TestDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// Keeps every call of the fill in order and builds the tree it describes. Identifiers are
// firstId, firstId + step, ... so that an entry shows the identifier handed back, not a count;
// the insertion numbered failAt makes no item and answers 0.
class RecordingSink : public IHeaderTreeSink {
public:
    struct Item {
        int id = 0;
        int parent = -1; // position in items, -1 at the top level
        std::string label;
        bool bold = false;
        int image = -1; // -1: never set
        int selectedImage = -1;
        bool expanded = false;
    };

    explicit RecordingSink(int firstId = 1, int step = 1, int failAt = -1)
        : m_firstId(firstId), m_step(step), m_failAt(failAt) {}

    void SetProgressRange(int n) override { log.push_back("range " + std::to_string(n)); }
    void Step(int i) override {
        log.push_back("step " + std::to_string(i));
        ++m_steps;
    }
    bool StopRequested() override { return stopFromStep > 0 && m_steps >= stopFromStep; }
    int InsertItem(int parentId, const std::string& label) override {
        log.push_back("insert " + std::to_string(parentId) + " " + label);
        const int attempt = m_attempts++;
        if (attempt == m_failAt)
            return 0;
        Item item;
        item.id = m_firstId + m_step * attempt;
        item.label = label;
        if (parentId != 0) {
            item.parent = Find(parentId);
            EXPECT_GE(item.parent, 0) << "no item " << parentId;
        }
        items.push_back(item);
        return item.id;
    }
    void AppendIndexEntry(const std::string& entry) override {
        log.push_back("entry " + entry);
        index.push_back(entry);
    }
    void SetBold(int id) override {
        log.push_back("bold " + std::to_string(id));
        if (Item* item = At(id))
            item->bold = true;
    }
    void Expand(int id) override {
        log.push_back("expand " + std::to_string(id));
        if (Item* item = At(id))
            item->expanded = true;
    }
    void SetIcon(int id, int image, int selectedImage) override {
        log.push_back("icon " + std::to_string(id) + " " + std::to_string(image) + " " +
                      std::to_string(selectedImage));
        if (Item* item = At(id)) {
            item->image = image;
            item->selectedImage = selectedImage;
        }
    }

    // The tree depth first, children indented by two blanks under their parent, with the
    // item's state: " [B]" bold, " {n}" image n (n + 1 when selected), " +" expanded.
    std::vector<std::string> Render(bool withState) const {
        std::vector<std::string> lines;
        RenderChildren(-1, "", withState, lines);
        return lines;
    }

    std::vector<std::string> log;
    std::vector<Item> items;
    std::vector<std::string> index;
    // From this step on (counting from 1), the user has asked to close the window; 0: never.
    int stopFromStep = 0;

private:
    int Find(int id) const {
        for (std::size_t k = 0; k < items.size(); ++k)
            if (items[k].id == id)
                return static_cast<int>(k);
        return -1;
    }
    Item* At(int id) {
        const int k = Find(id);
        EXPECT_GE(k, 0) << "no item " << id;
        return k >= 0 ? &items[k] : nullptr;
    }
    void RenderChildren(int parent, const std::string& indent, bool withState,
                        std::vector<std::string>& lines) const {
        for (std::size_t k = 0; k < items.size(); ++k) {
            const Item& item = items[k];
            if (item.parent != parent)
                continue;
            std::string line = indent + item.label;
            if (withState) {
                if (item.bold)
                    line += " [B]";
                if (item.image >= 0) {
                    line += " {" + std::to_string(item.image) + "}";
                    EXPECT_EQ(item.selectedImage, item.image + 1) << item.label;
                }
                if (item.expanded)
                    line += " +";
            }
            lines.push_back(line);
            RenderChildren(static_cast<int>(k), indent + "  ", withState, lines);
        }
    }

    int m_firstId;
    int m_step;
    int m_failAt;
    int m_attempts = 0;
    int m_steps = 0;
};

// "<p0> <p1> ... <p{count-1}>"
std::string NumberedIds(int count) {
    std::string text;
    for (int k = 0; k < count; ++k)
        text += (k ? " <p" : "<p") + std::to_string(k) + ">";
    return text;
}

const std::string kLongMesid = "<" + std::string(5000, 'x') + ">";
const std::string kLongMesidOther = "<" + std::string(5000, 'x') + "y>";

struct ThreadCase {
    const char* name;
    std::vector<HeaderRecord> records;
    std::vector<std::string> tree; // labels, depth first
};

void PrintTo(const ThreadCase& c, std::ostream* os) {
    *os << c.name;
}

class ThreadingTest : public ::testing::TestWithParam<ThreadCase> {};

TEST_P(ThreadingTest, HangsEachReplyUnderItsEarlierParent) {
    const ThreadCase& c = GetParam();
    TestDir dir;
    ASSERT_TRUE(WriteHeaderRecords(dir.Path(), c.records));
    RecordingSink sink;
    FillHeaderTree(dir.Path(), sink);
    EXPECT_EQ(sink.Render(false), c.tree);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ThreadingTest,
    ::testing::Values(
        ThreadCase{"reply_after_parent",
                   {{"1", "<a>", "A", "", ""},
                    {"2", "<b>", "B", "<a>", ""},
                    {"3", "<c>", "C", "<b>", ""},
                    {"4", "<d>", "D", "<a>", ""},
                    {"5", "<e>", "E", "", ""}},
                   {"1 A", "  2 B", "    3 C", "  4 D", "5 E"}},
        ThreadCase{"reply_before_parent_stays_top_level",
                   {{"2", "<b>", "B", "<a>", ""}, {"1", "<a>", "A", "", ""}},
                   {"2 B", "1 A"}},
        ThreadCase{"missing_parent",
                   {{"1", "<a>", "A", "", ""}, {"2", "<c>", "C", "<zz>", ""}},
                   {"1 A", "2 C"}},
        ThreadCase{"only_the_direct_parent_counts",
                   {{"1", "<a>", "A", "", ""}, {"3", "<c>", "C", "<b>", ""}},
                   {"1 A", "3 C"}},
        ThreadCase{
            "duplicate_ids_earliest_wins",
            {{"1", "<a>", "A1", "", ""}, {"2", "<a>", "A2", "", ""}, {"3", "<b>", "B", "<a>", ""}},
            {"1 A1", "  3 B", "2 A2"}},
        ThreadCase{"duplicate_id_later_record_is_a_reply",
                   {{"1", "<a>", "A", "", ""},
                    {"2", "<b>", "B", "", ""},
                    {"3", "<b>", "B2", "<a>", ""},
                    {"4", "<c>", "C", "<b>", ""}},
                   {"1 A", "  3 B2", "2 B", "  4 C"}},
        ThreadCase{"ref_case_matters",
                   {{"1", "<a@x>", "A", "", ""}, {"2", "<b@x>", "B", "<A@x>", ""}},
                   {"1 A", "2 B"}},
        ThreadCase{"ref_two_ids_one_blank_takes_the_second",
                   {{"1", "<a>", "A", "", ""},
                    {"2", "<b>", "B", "", ""},
                    {"3", "<c>", "C", "<a> <b>", ""}},
                   {"1 A", "2 B", "  3 C"}},
        ThreadCase{"ref_two_ids_two_blanks_takes_the_first",
                   {{"1", "<a>", "A", "", ""},
                    {"2", "<b>", "B", "", ""},
                    {"3", "<c>", "C", "<a>  <b>", ""}},
                   {"1 A", "  3 C", "2 B"}},
        ThreadCase{"ref_three_ids_takes_the_last",
                   {{"1", "<a>", "A", "", ""},
                    {"2", "<b>", "B", "", ""},
                    {"3", "<x>", "X", "", ""},
                    {"4", "<c>", "C", "<x> <a> <b>", ""},
                    {"5", "<d>", "D", "<x> <a>  <b>", ""}},
                   {"1 A", "  5 D", "2 B", "  4 C", "3 X"}},
        ThreadCase{
            "ref_leading_blank",
            {{"1", "<a>", "A", "", ""}, {"2", "<b>", "B", "", ""}, {"3", "<c>", "C", " <b>", ""}},
            {"1 A", "2 B", "  3 C"}},
        ThreadCase{
            "ref_trailing_blank",
            {{"1", "<a>", "A", "", ""}, {"2", "<b>", "B", "", ""}, {"3", "<c>", "C", "<a> ", ""}},
            {"1 A", "  3 C", "2 B"}},
        ThreadCase{"ref_of_blanks_names_nothing",
                   {{"1", "<a>", "A", "", ""},
                    {"2", "", "no id", "", ""},
                    {"3", "<c>", "C", " ", ""},
                    {"4", "<d>", "D", "  ", ""}},
                   {"1 A", "3 C", "4 D"}},
        ThreadCase{"records_without_mesid_make_no_item",
                   {{"1", "<a>", "A", "", ""},
                    {"2", "", "B", "<a>", ""},
                    {"3", "<c>", "C", "<a>", ""},
                    {"4", "", "", "", "YES"}},
                   {"1 A", "  3 C"}},
        ThreadCase{"mesid_with_a_blank_is_never_named",
                   {{"1", "<a b>", "A", "", ""}, {"2", "<c>", "C", "<a b>", ""}},
                   {"1 A", "2 C"}},
        // REF is split into 64 parts at most, so of 70 ids the 64th (part 63) is wanted.
        ThreadCase{"ref_of_seventy_ids_takes_part_63",
                   {{"1", "<p62>", "P62", "", ""},
                    {"2", "<p63>", "P63", "", ""},
                    {"3", "<p69>", "P69", "", ""},
                    {"4", "<z>", "Z", NumberedIds(70), ""}},
                   {"1 P62", "2 P63", "  4 Z", "3 P69"}},
        ThreadCase{"ref_of_sixty_three_ids_takes_the_last",
                   {{"1", "<p61>", "P61", "", ""},
                    {"2", "<p62>", "P62", "", ""},
                    {"3", "<z>", "Z", NumberedIds(63), ""}},
                   {"1 P61", "2 P62", "  3 Z"}},
        // Message-IDs are read whole: a long one names its children, and one that agrees
        // with it only in its first 1,023 bytes does not.
        ThreadCase{"long_mesid_is_read_whole",
                   {{"1", kLongMesid, "L", "", ""},
                    {"2", "<b>", "B", kLongMesid, ""},
                    {"3", "<c>", "C", kLongMesid.substr(0, 1023), ""}},
                   {"1 L", "  2 B", "3 C"}},
        ThreadCase{"long_ids_differing_at_their_end_are_two",
                   {{"1", kLongMesid, "L", "", ""},
                    {"2", kLongMesidOther, "M", "", ""},
                    {"3", "<c>", "C", kLongMesidOther, ""}},
                   {"1 L", "2 M", "  3 C"}},
        ThreadCase{"shift_jis_ids_compare_byte_for_byte",
                   {{"1", "<\x93\xfa\x96\x7b@x>", "A", "", ""},
                    {"2", "<\x93\xfa\x96\x7c@x>", "B", "", ""},
                    {"3", "<c>", "C", "<\x93\xfa\x96\x7c@x>", ""}},
                   {"1 A", "2 B", "  3 C"}}),
    [](const ::testing::TestParamInfo<ThreadCase>& info) { return std::string(info.param.name); });

struct StateCase {
    const char* name;
    std::vector<HeaderRecord> records;
    std::vector<std::pair<std::string, std::string>> cacheFiles; // name, content
    std::vector<std::string> tree;                               // depth first, with state
    std::vector<std::string> filesAfter;                         // the ".ntx" files left, sorted
};

void PrintTo(const StateCase& c, std::ostream* os) {
    *os << c.name;
}

class ItemStateTest : public ::testing::TestWithParam<StateCase> {};

std::vector<std::string> CacheFilesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".ntx")
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_P(ItemStateTest, WeightIconAndExpansionFollowReadAndCache) {
    const StateCase& c = GetParam();
    TestDir dir;
    ASSERT_TRUE(WriteHeaderRecords(dir.Path(), c.records));
    for (const auto& [name, content] : c.cacheFiles)
        ASSERT_TRUE(WriteWholeFile(dir / name, content));
    RecordingSink sink;
    FillHeaderTree(dir.Path(), sink);
    EXPECT_EQ(sink.Render(true), c.tree);
    EXPECT_EQ(CacheFilesIn(dir.Path()), c.filesAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ItemStateTest,
    ::testing::Values(
        StateCase{"unread_not_cached", {{"1", "<a@x>", "A", "", ""}}, {}, {"1 A [B] {0} +"}, {}},
        StateCase{"read_and_cached",
                  {{"1", "<a@x>", "A", "", "YES"}},
                  {{"a@x.ntx", "Subject: A\r\n"}},
                  {"1 A {2} +"},
                  {"a@x.ntx"}},
        StateCase{"unread_but_cached",
                  {{"1", "<a@x>", "A", "", ""}},
                  {{"a@x.ntx", "x"}},
                  {"1 A {0} +"},
                  {"a@x.ntx"}},
        StateCase{
            "read_then_cache_deleted", {{"1", "<a@x>", "A", "", "YES"}}, {}, {"1 A [B] {2} +"}, {}},
        StateCase{"empty_cache_file_is_removed",
                  {{"1", "<a@x>", "A", "", ""}, {"2", "<b@x>", "B", "", "YES"}},
                  {{"a@x.ntx", ""}, {"b@x.ntx", ""}},
                  {"1 A [B] {0} +", "2 B [B] {2}"},
                  {}},
        StateCase{"other_cache_file_does_not_count",
                  {{"1", "<a@x>", "A", "", ""}},
                  {{"b@x.ntx", "x"}, {"a@x", "x"}},
                  {"1 A [B] {0} +"},
                  {"b@x.ntx"}},
        // Without both brackets nothing is looked up: no weight, no icon, no file removed.
        StateCase{"mesid_without_brackets",
                  {{"1", "a@x", "A", "", "YES"}},
                  {{"a@x.ntx", ""}},
                  {"1 A +"},
                  {"a@x.ntx"}},
        StateCase{"mesid_with_leading_bracket_only",
                  {{"1", "<a@x", "A", "", ""}},
                  {{"a@x.ntx", ""}},
                  {"1 A +"},
                  {"a@x.ntx"}},
        StateCase{"mesid_with_trailing_bracket_only",
                  {{"1", "a@x>", "A", "", ""}},
                  {{"a@x.ntx", ""}},
                  {"1 A +"},
                  {"a@x.ntx"}},
        StateCase{"lone_bracket", {{"1", "<", "A", "", ""}}, {}, {"1 A +"}, {}},
        // A long id keeps its ">" and finds its cache file by its whole name.
        StateCase{"long_mesid_keeps_its_bracket",
                  {{"1", kLongMesid, "L", "", ""}, {"2", kLongMesidOther, "M", "", ""}},
                  {{CacheFileName(kLongMesidOther), "x"}},
                  {"1 L [B] {0} +", "2 M {0}"},
                  {CacheFileName(kLongMesidOther)}},
        // Parents of uncached articles are expanded, others are not (the first top-level item
        // always is).
        StateCase{"parents_of_uncached_articles_expand",
                  {{"1", "<a>", "A", "", ""},
                   {"2", "<b>", "B", "<a>", ""},
                   {"3", "<c>", "C", "", ""},
                   {"4", "<d>", "D", "<c>", "YES"},
                   {"5", "<e>", "E", "<d>", ""},
                   {"6", "<f>", "F", "", ""},
                   {"7", "g", "G", "<f>", ""}},
                  {{"a.ntx", "x"}, {"b.ntx", "x"}, {"c.ntx", "x"}, {"e.ntx", "x"}, {"f.ntx", "x"}},
                  {"1 A {0} +", "  2 B {0}", "3 C {0} +", "  4 D [B] {2}", "    5 E {0}", "6 F {0}",
                   "  7 G"},
                  {"a.ntx", "b.ntx", "c.ntx", "e.ntx", "f.ntx"}}),
    [](const ::testing::TestParamInfo<StateCase>& info) { return std::string(info.param.name); });

TEST(FillHeaderTree, CallsInOrder) {
    TestDir dir;
    ASSERT_TRUE(WriteHeaderRecords(dir.Path(), {{"101", "<a@x>", "A", "", ""},
                                                {"102", "", "lost", "", ""},
                                                {"103", "<b@x>", "Re: A", "<a@x>", "YES"},
                                                {"104", "<c@x>", "Re: Re: A", "<b@x>", ""}}));
    ASSERT_TRUE(WriteWholeFile(dir / "b@x.ntx", "x"));
    RecordingSink sink(7, 5);
    EXPECT_EQ(FillHeaderTree(dir.Path(), sink), 3);
    const std::vector<std::string> expected = {
        "range 4",
        "step 0",
        "insert 0 101 A",
        "entry 0 <a@x> ,7",
        "bold 7",
        "icon 7 0 1",
        "step 1",
        "step 2",
        "insert 7 103 Re: A",
        "entry 2 <b@x> ,12",
        "icon 12 2 3",
        "step 3",
        "insert 12 104 Re: Re: A",
        "entry 3 <c@x> ,17",
        "bold 17",
        "expand 12",
        "icon 17 0 1",
        "step 4",
        "expand 7",
    };
    EXPECT_EQ(sink.log, expected);
}

TEST(FillHeaderTree, StopsAtTheStepWhereItIsAskedTo) {
    TestDir dir;
    ASSERT_TRUE(WriteHeaderRecords(dir.Path(), {{"101", "<a@x>", "A", "", ""},
                                                {"102", "<b@x>", "B", "", ""},
                                                {"103", "<c@x>", "C", "", ""}}));
    RecordingSink sink(7, 5);
    sink.stopFromStep = 2;
    EXPECT_EQ(FillHeaderTree(dir.Path(), sink), 1);
    const std::vector<std::string> expected = {
        "range 3", "step 0",     "insert 0 101 A", "entry 0 <a@x> ,7",
        "bold 7",  "icon 7 0 1", "step 1",         "expand 7",
    };
    EXPECT_EQ(sink.log, expected);
}

// A group never downloaded, a table without records and a file without the table all give the
// one pass over nothing.
TEST(FillHeaderTree, LeftoverFetchFilesGoOnceAnHourOld) {
    using namespace std::chrono_literals;
    TestDir dir;
    ASSERT_TRUE(WriteHeaderRecords(dir.Path(), {{"1", "<a@x>", "A", "", ""}}));
    struct File {
        std::string name;
        std::chrono::minutes age;
        bool kept;
    };
    const File files[] = {
        {".fetch-Ab12Cd", 61min, false},   // left by a killed fetch
        {".fetch-Xy34Zw", 5min, true},     // a fetch may still be writing it
        {".fetch-short", 120min, true},    // not a name a fetch makes
        {".fetch-Ab12Cde", 120min, true},  // nor this
        {"a@x.ntx", 120min, true},         // a cache file
        {"other", 120min, true},
    };
    for (const File& f : files) {
        ASSERT_TRUE(WriteWholeFile(dir / f.name, "partial article"));
        fs::last_write_time(dir / f.name, fs::file_time_type::clock::now() - f.age);
    }
    RecordingSink sink;
    FillHeaderTree(dir.Path(), sink);
    for (const File& f : files)
        EXPECT_EQ(fs::exists(dir / f.name), f.kept) << f.name;
}

TEST(FillHeaderTree, EmptyGroupMakesOnePassAndNothingElse) {
    const std::vector<std::string> expected = {"range 0", "step 0"};
    {
        TestDir dir;
        RecordingSink sink;
        EXPECT_EQ(FillHeaderTree(dir.Path(), sink), 0);
        EXPECT_EQ(sink.log, expected);
        EXPECT_FALSE(fs::exists(HeaderDbPath(dir.Path()))) << "the fill must not create the file";
    }
    {
        TestDir dir;
        ASSERT_TRUE(WriteHeaderRecords(dir.Path(), {}));
        RecordingSink sink;
        EXPECT_EQ(FillHeaderTree(dir.Path(), sink), 0);
        EXPECT_EQ(sink.log, expected);
    }
    {
        TestDir dir;
        ASSERT_TRUE(CreateDatabaseTable("Other", {"MESID", "NUM"}, HeaderDbPath(dir.Path())));
        ASSERT_EQ(AppendRecordField("Other", "MESID", "<a@x>", HeaderDbPath(dir.Path())), 1);
        RecordingSink sink;
        EXPECT_EQ(FillHeaderTree(dir.Path(), sink), 0);
        EXPECT_EQ(sink.log, expected);
    }
    {
        TestDir dir;
        ASSERT_TRUE(
            WriteHeaderRecords(dir.Path(), {{"1", "", "A", "", ""}, {"2", "", "B", "", ""}}));
        RecordingSink sink;
        EXPECT_EQ(FillHeaderTree(dir.Path(), sink), 0);
        EXPECT_EQ(sink.log, (std::vector<std::string>{"range 2", "step 0", "step 1", "step 2"}));
    }
}

struct LabelCase {
    const char* name;
    std::string num;
    std::string sub;
    std::string label;
};

void PrintTo(const LabelCase& c, std::ostream* os) {
    *os << c.name;
}

class LabelTest : public ::testing::TestWithParam<LabelCase> {};

TEST_P(LabelTest, IsNumBlankSubWithinTheirBuffers) {
    const LabelCase& c = GetParam();
    TestDir dir;
    ASSERT_TRUE(WriteHeaderRecords(dir.Path(), {{c.num, "<a@x>", c.sub, "", ""}}));
    RecordingSink sink;
    FillHeaderTree(dir.Path(), sink);
    ASSERT_EQ(sink.items.size(), 1u);
    EXPECT_EQ(sink.items[0].label, c.label);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LabelTest,
    ::testing::Values(LabelCase{"plain", "12345", "Subject", "12345 Subject"},
                      LabelCase{"shift_jis_subject", "7",
                                "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x8c\x8f\x96\xbc",
                                "7 \x93\xfa\x96\x7b\x8c\xea\x82\xcc\x8c\x8f\x96\xbc"},
                      LabelCase{"subject_of_255_bytes_kept", "1", std::string(255, 's'),
                                "1 " + std::string(255, 's')},
                      LabelCase{"subject_of_300_bytes_cut", "1", std::string(300, 's'),
                                "1 " + std::string(255, 's')},
                      // The cut is by bytes and may split a double-byte character.
                      LabelCase{"cut_inside_a_double_byte_character", "1",
                                std::string(254, 's') + "\x93\xfa",
                                "1 " + std::string(254, 's') + "\x93"},
                      LabelCase{"number_cut_to_127_bytes", std::string(200, '9'), "S",
                                std::string(127, '9') + " S"},
                      LabelCase{"subject_ends_at_a_nul_byte", "1", "ab\0cd"s, "1 ab"},
                      LabelCase{"no_number_no_subject", "", "", " "}),
    [](const ::testing::TestParamInfo<LabelCase>& info) { return std::string(info.param.name); });

// Entries keep the record index (gaps where a record has no MESID), the MESID as stored and the
// identifier as a signed number; each reads back to what it was made of.
TEST(FillHeaderTree, IndexEntriesAreExact) {
    TestDir dir;
    const std::vector<HeaderRecord> records = {
        {"1", "<a,b@x>", "A", "", ""},
        {"2", "", "B", "", ""},
        {"3", "<c d ,5@x>", "C", "", ""},
        {"4", "plain@x", "D", "", ""},
        {"5", "<\x93\xfa\x96\x7b@x> ", "E", "", ""},
        {"6", kLongMesid, "L", "", ""},
    };
    ASSERT_TRUE(WriteHeaderRecords(dir.Path(), records));
    RecordingSink sink(-3, -4);
    EXPECT_EQ(FillHeaderTree(dir.Path(), sink), 5);
    const std::vector<std::string> expected = {
        "0 <a,b@x> ,-3",
        "2 <c d ,5@x> ,-7",
        "3 plain@x ,-11",
        "4 <\x93\xfa\x96\x7b@x>  ,-15",
        "5 " + kLongMesid + " ,-19",
    };
    EXPECT_EQ(sink.index, expected);

    const int recordOf[] = {0, 2, 3, 4, 5};
    for (std::size_t k = 0; k < sink.index.size(); ++k) {
        SCOPED_TRACE(sink.index[k].substr(0, 40));
        const auto entry = ParseIndexEntry(sink.index[k]);
        ASSERT_TRUE(entry.has_value());
        EXPECT_EQ(entry->m_recordIndex, recordOf[k]);
        EXPECT_EQ(entry->m_messageId, records[recordOf[k]].mesid);
        EXPECT_EQ(entry->m_itemId, sink.items[k].id);
    }
}

// An entry whose identifier is 0 (no item could be made) is passed over by the parent search,
// so the next item with that Message-ID becomes the parent.
TEST(FillHeaderTree, ItemThatCouldNotBeMadeIsNeverAParent) {
    TestDir dir;
    ASSERT_TRUE(WriteHeaderRecords(
        dir.Path(),
        {{"1", "<a>", "A1", "", ""}, {"2", "<a>", "A2", "", ""}, {"3", "<b>", "B", "<a>", ""}}));
    ASSERT_TRUE(WriteWholeFile(dir / "a.ntx", ""));
    RecordingSink sink(1, 1, 0);
    EXPECT_EQ(FillHeaderTree(dir.Path(), sink), 3);
    EXPECT_EQ(sink.index, (std::vector<std::string>{"0 <a> ,0", "1 <a> ,2", "2 <b> ,3"}));
    EXPECT_EQ(sink.Render(true), (std::vector<std::string>{"2 A2 [B] {0} +", "  3 B [B] {0}"}));
    // The first record's empty cache file goes even though it has no item.
    EXPECT_FALSE(fs::exists(dir / "a.ntx"));
}

// The fill reads the records as they are on disk at the time: a second fill of the same table
// gives the same calls, and a record added between fills is seen by the next.
TEST(FillHeaderTree, RefillStartsAfresh) {
    TestDir dir;
    ASSERT_TRUE(WriteHeaderRecords(dir.Path(), {{"1", "<a>", "A", "", ""}}));
    RecordingSink first;
    FillHeaderTree(dir.Path(), first);
    RecordingSink second;
    FillHeaderTree(dir.Path(), second);
    EXPECT_EQ(first.log, second.log);

    ASSERT_EQ(AppendRecordField(kHeaderTable, "MESID", "<b>", HeaderDbPath(dir.Path())), 1);
    RecordingSink third;
    EXPECT_EQ(FillHeaderTree(dir.Path(), third), 2);
    EXPECT_EQ(third.index, (std::vector<std::string>{"0 <a> ,1", "1 <b> ,2"}));
    EXPECT_EQ(third.Render(false), (std::vector<std::string>{"1 A", " "}));
}

struct WantedCase {
    std::string ref;
    std::string wanted;
};

TEST(WantedParentId, PartAfterTheUnbrokenRunOfIds) {
    const WantedCase cases[] = {
        {"<a>", "<a>"},
        {"<a> <b>", "<b>"},
        {"<a>  <b>", "<a>"},
        {" <a>", "<a>"},
        {"  <a>", ""},
        {"<a> ", "<a>"},
        {" ", ""},
        {"<a> <b> <c>", "<c>"},
        {"<a> <b>  <c> <d>", "<b>"},
        {NumberedIds(63), "<p62>"},
        {NumberedIds(64), "<p63>"},
        {NumberedIds(200), "<p63>"},
    };
    for (const WantedCase& c : cases) {
        SCOPED_TRACE("[" + c.ref.substr(0, 40) + "]");
        EXPECT_EQ(WantedParentId(c.ref), c.wanted);
    }
}

// The fill finds the wanted ID without splitting; it must agree with the split-based rule on
// any text, including runs of blanks and more parts than the split keeps.
TEST(WantedParentId, AgreesWithSplittingAtBlanks) {
    std::mt19937 random(20261208);
    const char alphabet[] = {' ', ' ', ' ', '<', '>', 'a', '@'};
    for (int round = 0; round < 20000; ++round) {
        std::string ref(random() % 300, ' ');
        for (char& c : ref)
            c = alphabet[random() % sizeof alphabet];
        std::vector<std::string> parts;
        SplitString(ref, parts, kTreeRefParts, ' ');
        int k = 0;
        while (k + 1 < kTreeRefParts && !parts[k + 1].empty())
            ++k;
        ASSERT_EQ(WantedParentId(ref), parts[k]) << "[" << ref << "]";
    }
}

} // namespace
