// The script reader: line ends, sections, key and value splits, and every loading failure.
#include <gtest/gtest.h>

#include <string>

#include "SimFixture.h"
#include "resources/resource.h"
#include "script/ScriptReader.h"

namespace {

struct Parsed {
    int length;
    std::string key, value;
    bool hasValue;
};

Parsed Parse(const std::string &line)
{
    ScriptLine result{ -1, nullptr, -1 };
    Parsed parsed;
    parsed.length = ParseScriptLine(line.c_str(), &result);
    parsed.key = line.substr(0, result.KeyLength > 0 ? result.KeyLength : 0);
    parsed.hasValue = result.ValueStart != nullptr;
    parsed.value = parsed.hasValue ? std::string(result.ValueStart, result.ValueLength) : "";
    return parsed;
}

TEST(ParseScriptLine, LineEndsAndLengths)
{
    struct Row {
        const char *name;
        std::string text;
        int length;
        std::string key, value;
    } rows[] = {
        { "LF", "Key=Value\nNext", 10, "Key", "Value" },
        { "CR LF", "Key=Value\r\nNext", 11, "Key", "Value" },
        { "empty CR LF line", "\r\nNext", 2, "", "" },
        { "lone LF", "\nNext", 1, "", "" },
        { "last line without LF", "Key=Value", 9, "Key", "Value" },
        { "a final CR stays content", std::string("Editor=Quillet.exe\r"), 19, "Editor", "Quillet.exe\r" },
        { "a lone CR is content", "A=1\rB=2\n", 8, "A", "1\rB=2" },
        { "CR CR LF keeps one CR", "A=1\r\r\n", 6, "A", "1\r" },
        { "NUL ends the text", std::string("A=12\0B=3", 8), 4, "A", "12" },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Parsed p = Parse(row.text);
        EXPECT_EQ(p.length, row.length);
        EXPECT_EQ(p.key, row.key);
        EXPECT_EQ(p.value, row.value);
    }
}

TEST(ParseScriptLine, KeysAndValuesSplitExactly)
{
    struct Row {
        std::string text, key, value;
        bool hasValue;
    } rows[] = {
        { "Label = = file.txt  ", "Label", "file.txt  ", true },
        { "Label\t=\tvalue", "Label", "value", true },
        { "=x", "", "x", true },
        { "=", "", "", true },
        { "  =x", "", "x", true },
        { "  Key=x", "  Key", "x", true },
        { "just words", "just words", "", false },
        { "a=b=c", "a", "b=c", true },
        { "a==b", "a", "b", true },
        { "Key=", "Key", "", true },
        { "a b=c d", "a b", "c d", true },
        { "; comment=x", "", "", false },
        { " ;not a comment", " ;not a comment", "", false },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.text);
        Parsed p = Parse(row.text);
        EXPECT_EQ(p.length, (int)row.text.size());
        EXPECT_EQ(p.key, row.key);
        EXPECT_EQ(p.value, row.value);
        EXPECT_EQ(p.hasValue, row.hasValue);
    }
}

TEST(ParseScriptLine, EndsTheSectionAtAHeaderOrTheEndAndLeavesTheResultAlone)
{
    ScriptLine line{ 7, "kept", 4 };
    EXPECT_EQ(ParseScriptLine("[Files]\n", &line), 0);
    EXPECT_EQ(ParseScriptLine("", &line), 0);
    EXPECT_EQ(line.KeyLength, 7);
    EXPECT_STREQ(line.ValueStart, "kept");
    EXPECT_EQ(line.ValueLength, 4);
}

TEST(ParseScriptLine, ALongLineWithoutEnd)
{
    std::string text(10 * 1024 * 1024, 'k');
    text[5 * 1024 * 1024] = '=';
    ScriptLine line;
    EXPECT_EQ(ParseScriptLine(text.c_str(), &line), (int)text.size());
    EXPECT_EQ(line.KeyLength, 5 * 1024 * 1024);
    EXPECT_EQ(line.ValueLength, (int)text.size() - 5 * 1024 * 1024 - 1);
}

TEST(KeyMatches, ComparesSignedBytesOverTheCount)
{
    EXPECT_EQ(KeyMatches("Caption=My Editor", "Caption", 7), 0);
    EXPECT_EQ(KeyMatches("Captions=x", "Caption", 7), 0);
    EXPECT_EQ(KeyMatches("caption=x", "Caption", 7), 1);
    EXPECT_EQ(KeyMatches("  Caption=x", "Caption", 7), -1);
    EXPECT_EQ(KeyMatches("Cap\n", "Caption", 7), -1);
    EXPECT_EQ(KeyMatches("Cap", "Caption", 7), -1);
    EXPECT_EQ(KeyMatches("anything", "Other", 0), 0);
    EXPECT_EQ(KeyMatches("\xE9", "e", 1), -1);  // bytes compare as signed chars
}

class FindScriptSectionTest : public SimTest {
protected:
    int Find(const std::string &text, const char *name, int *cursor, int report = 0)
    {
        text_ = text;
        return FindScriptSection(sim::Instance(), "Install", NULL, name, report, text_.c_str(), cursor);
    }
    std::string text_;
};

TEST_F(FindScriptSectionTest, HeadersMatchByTheirFirstBytes)
{
    struct Row {
        std::string text;
        const char *name;
        int result;
        int cursor;
    } rows[] = {
        { "[Install]\nA=1\n", "Install", 0, 10 },
        { "[Installation]\r\nA=1\n", "Install", 0, 16 },
        { "[Install\nA=1\n", "Install", 0, 9 },
        { "[install]\nA=1\n", "Install", -1, 14 },
        { "[ Install]\nA=1\n", "Install", -1, 15 },
        { " [Install]\nA=1\n", "Install", -1, 15 },
        { "x\n[Files]\n1\n[Files]\n2\n", "Files", 0, 10 },
        { "[Inst\n", "Install", -1, 6 },
        { "junk\n[Other]\n[Install]", "Install", 0, 22 },
        { "[Files]\r[Install]\n", "Install", -1, 18 },
        { "[Files]\r[Install]\n", "Files", 0, 18 },
        { "", "Install", -1, 0 },
        { "\n\n", "Install", -1, 2 },
        { "a\n[Z]\n[Y]\n", "", 0, 6 },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.text);
        int cursor = 12345;
        EXPECT_EQ(Find(row.text, row.name, &cursor), row.result);
        EXPECT_EQ(cursor, row.cursor);
    }
    EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(FindScriptSectionTest, AHeaderOnTheLastLineOpensAnEmptySection)
{
    int cursor = -1;
    ASSERT_EQ(Find("A=1\n[Files]", "Files", &cursor), 0);
    EXPECT_EQ(cursor, 11);
    ScriptLine line;
    EXPECT_EQ(ParseScriptLine(text_.c_str() + cursor, &line), 0);
}

TEST_F(FindScriptSectionTest, StopsAtTheFirstNul)
{
    int cursor = -1;
    std::string text = std::string("A=1\n\0[Files]\n", 13);
    text_ = text;
    EXPECT_EQ(FindScriptSection(sim::Instance(), "Install", NULL, "Files", 0, text_.data(), &cursor), -1);
    EXPECT_EQ(cursor, 4);
}

TEST_F(FindScriptSectionTest, ReportsAMissingSectionWhenAsked)
{
    sim::SetUser(AnswerAll(IDOK));
    int cursor = -1;
    EXPECT_EQ(Find("[Files]\n", "Install", &cursor, 1), -1);
    ASSERT_EQ(sim::MessageBoxes().size(), 1u);
    const sim::MessageBoxRecord &box = sim::MessageBoxes()[0];
    EXPECT_EQ(box.text, "Section [Install] does not exist !");
    EXPECT_EQ(box.caption, "Install");
    EXPECT_EQ(box.type, (UINT)MB_ICONINFORMATION);
    EXPECT_EQ(box.owner, (HWND)NULL);
}

TEST_F(FindScriptSectionTest, ReportsInTheUsersLanguage)
{
    sim::SetUser(AnswerAll(IDOK));
    sim::SetLanguage(1036);
    int cursor = -1;
    Find("", "Files", &cursor, 1);
    sim::SetLanguage(1040);
    Find("", "Files", &cursor, 1);
    ASSERT_EQ(sim::MessageBoxes().size(), 2u);
    EXPECT_EQ(sim::MessageBoxes()[0].text, "La section [Files] n'existe pas !");
    EXPECT_EQ(sim::MessageBoxes()[1].text, "La sezione [Files] non esiste !");
}

class LoadScriptFileTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        sim::SetUser(AnswerAll(IDOK));
    }
    int Load()
    {
        return LoadScriptFile(sim::Instance(), "Install", NULL, path_, &handle_, &text_);
    }
    const char *path_ = "C:\\DIST\\SETUP.inf";
    HGLOBAL handle_ = NULL;
    char *text_ = NULL;
};

TEST_F(LoadScriptFileTest, LoadsTheWholeFileFollowedByANul)
{
    std::string content = "[Install]\r\nApplication=Quillet\r\n";
    sim::PutFile(path_, content);
    ASSERT_EQ(Load(), 0);
    ASSERT_NE(text_, nullptr);
    EXPECT_EQ(std::string(text_), content);
    EXPECT_EQ(sim::LiveGlobalBlocks(), 1);
    EXPECT_EQ(sim::LockedGlobalBlocks(), 1);
    EXPECT_EQ(sim::OpenFileHandles(), 0);
    EXPECT_TRUE(sim::MessageBoxes().empty());
    GlobalUnlock(handle_);
    GlobalFree(handle_);
}

TEST_F(LoadScriptFileTest, AnEmptyFileIsOneZeroByte)
{
    sim::PutFile(path_, "");
    ASSERT_EQ(Load(), 0);
    EXPECT_EQ(text_[0], '\0');
    GlobalUnlock(handle_);
    GlobalFree(handle_);
}

TEST_F(LoadScriptFileTest, EachFailureShowsItsMessageAndGivesTheMemoryBack)
{
    struct Row {
        const char *name;
        void (*arrange)();
        std::string text;
    } rows[] = {
        { "missing file", [] {}, "Cannot open \"C:\\DIST\\SETUP.inf\" !" },
        { "refused open", [] { sim::PutFile("C:\\DIST\\SETUP.inf", "x"); sim::FailOpen("SETUP.inf", ERROR_ACCESS_DENIED); },
          "Cannot open \"C:\\DIST\\SETUP.inf\" !" },
        { "no memory", [] { sim::PutFile("C:\\DIST\\SETUP.inf", "x"); sim::FailGlobalAlloc(1); }, "FileRead: cannot allocate memory !" },
        { "no lock", [] { sim::PutFile("C:\\DIST\\SETUP.inf", "x"); sim::FailGlobalLock(1); }, "FileRead: cannot lock memory !" },
        { "short read", [] { sim::PutFile("C:\\DIST\\SETUP.inf", "[Install]\n"); sim::FailRead("SETUP.inf", 4, 0); },
          "Cannot read \"C:\\DIST\\SETUP.inf\" !" },
        { "read error", [] { sim::PutFile("C:\\DIST\\SETUP.inf", "[Install]\n"); sim::FailRead("SETUP.inf", 0); },
          "Cannot read \"C:\\DIST\\SETUP.inf\" !" },
        { "size unknown", [] { sim::PutFile("C:\\DIST\\SETUP.inf", "[Install]\n"); sim::FailSeek("SETUP.inf"); },
          "Cannot read \"C:\\DIST\\SETUP.inf\" !" },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        sim::Reset(sim::Sandbox());
        sim::SetUser(AnswerAll(IDOK));
        row.arrange();
        handle_ = NULL;
        EXPECT_EQ(Load(), -1);
        ASSERT_EQ(sim::MessageBoxes().size(), 1u);
        const sim::MessageBoxRecord &box = sim::MessageBoxes()[0];
        EXPECT_EQ(box.text, row.text);
        EXPECT_EQ(box.caption, "Install");
        EXPECT_EQ(box.type, (UINT)MB_ICONERROR);
        EXPECT_EQ(box.owner, (HWND)NULL);
        EXPECT_EQ(sim::OpenFileHandles(), 0);
        EXPECT_EQ(sim::LiveGlobalBlocks(), 0);
        EXPECT_EQ(handle_, (HGLOBAL)NULL);
    }
}

TEST_F(LoadScriptFileTest, AllocatesOneByteMoreThanTheFile)
{
    sim::PutFile(path_, std::string(1000, 'a'));
    sim::FailGlobalLock(1);
    EXPECT_EQ(Load(), -1);
    sim::Reset(sim::Sandbox());
    sim::SetUser(AnswerAll(IDOK));
    sim::PutFile(path_, std::string(1000, 'a'));
    ASSERT_EQ(Load(), 0);
    // The byte after the text exists and is zero: reading it is legal for the sanitizer.
    EXPECT_EQ(text_[1000], '\0');
    GlobalUnlock(handle_);
    GlobalFree(handle_);
}

}  // namespace
