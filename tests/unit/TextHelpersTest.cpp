// Bounded copies, fields and path offsets at and around their capacities.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "SimFixture.h"
#include "script/TextHelpers.h"

namespace {

// A buffer pre-filled with a sentinel, so that a write past the NUL shows.
struct Sentinel {
    static const char FILL = '\x5A';
    char bytes[300];
    Sentinel() { memset(bytes, FILL, sizeof bytes); }
    int untouchedFrom(int offset) const
    {
        for (int i = offset; i < (int)sizeof bytes; i++) {
            if (bytes[i] != FILL)
                return i;
        }
        return -1;
    }
};

TEST(CopyChars, CopiesCountedTextAndCutsAtCapacity)
{
    const std::string source(300, 'x');
    struct Row {
        int capacity, count, expected;
    } rows[] = { { 128, 0, 0 }, { 128, 5, 5 }, { 128, 127, 127 }, { 128, 128, 127 }, { 128, 300, 127 }, { 1, 10, 0 } };
    for (const Row &row : rows) {
        SCOPED_TRACE("capacity " + std::to_string(row.capacity) + ", count " + std::to_string(row.count));
        Sentinel buffer;
        EXPECT_EQ(CopyChars(buffer.bytes, row.capacity, source.data(), row.count), row.expected);
        EXPECT_EQ(buffer.bytes[row.expected], '\0');
        EXPECT_EQ(std::string(buffer.bytes, row.expected), source.substr(0, row.expected));
        EXPECT_EQ(buffer.untouchedFrom(row.expected + 1), -1);
    }
}

TEST(CopyChars, CopiesEmbeddedNulsAndWritesNothingAtCapacityZero)
{
    Sentinel buffer;
    EXPECT_EQ(CopyChars(buffer.bytes, 10, "a\0b", 3), 3);
    EXPECT_EQ(std::string(buffer.bytes, 4), std::string("a\0b\0", 4));

    Sentinel untouched;
    EXPECT_EQ(CopyChars(untouched.bytes, 0, "abc", 3), 0);
    EXPECT_EQ(untouched.untouchedFrom(0), -1);
}

TEST(AppendChars, AppendsAtTheGivenLengthUpToCapacityMinusOne)
{
    struct Row {
        int length, count, expected;
    } rows[] = { { 125, 10, 127 }, { 127, 10, 127 }, { 0, 3, 3 }, { 120, 0, 120 } };
    for (const Row &row : rows) {
        SCOPED_TRACE("length " + std::to_string(row.length));
        Sentinel buffer;
        EXPECT_EQ(AppendChars(buffer.bytes, 128, row.length, "0123456789", row.count), row.expected);
        EXPECT_EQ(buffer.bytes[row.expected], '\0');
        EXPECT_EQ(std::string(buffer.bytes + row.length, row.expected - row.length),
                  std::string("0123456789").substr(0, row.expected - row.length));
        EXPECT_EQ(buffer.untouchedFrom(row.expected + 1), -1);
    }
}

TEST(AppendChars, WritesNothingAtOrBeyondCapacity)
{
    for (int length : { 128, 129, 400 }) {
        Sentinel buffer;
        EXPECT_EQ(AppendChars(buffer.bytes, 128, length, "abc", 3), length);
        EXPECT_EQ(buffer.untouchedFrom(0), -1);
    }
}

TEST(CopyString, MeasuresAndCutsTheSameBuffer)
{
    char text[260] = "twenty characters!!!";
    ASSERT_EQ(strlen(text), 20u);
    EXPECT_EQ(CopyString(text, 260, text), 20);
    EXPECT_STREQ(text, "twenty characters!!!");
    EXPECT_EQ(CopyString(text, 10, text), 9);
    EXPECT_STREQ(text, "twenty ch");
}

TEST(CopyString, LeavesTinyBuffersAlone)
{
    Sentinel buffer;
    EXPECT_EQ(CopyString(buffer.bytes, 1, "abc"), 0);
    EXPECT_EQ(buffer.untouchedFrom(0), -1);
    EXPECT_EQ(CopyString(buffer.bytes, 2, "abc"), 1);
    EXPECT_STREQ(buffer.bytes, "a");
}

TEST(AppendString, AppendsUpToTheNulAndCuts)
{
    Sentinel buffer;
    memcpy(buffer.bytes, "C:\\WINDOWS", 11);
    int length = AppendString(buffer.bytes, 260, 10, "\\");
    length = AppendString(buffer.bytes, 260, length, "Quillet.cfg");
    EXPECT_EQ(length, 22);
    EXPECT_STREQ(buffer.bytes, "C:\\WINDOWS\\Quillet.cfg");

    EXPECT_EQ(AppendString(buffer.bytes, 260, 5, ""), 5);
    EXPECT_EQ(buffer.bytes[5], '\0');

    Sentinel cut;
    EXPECT_EQ(AppendString(cut.bytes, 8, 0, "0123456789"), 7);
    EXPECT_STREQ(cut.bytes, "0123456");
    EXPECT_EQ(cut.untouchedFrom(8), -1);
    EXPECT_EQ(AppendString(cut.bytes, 8, 8, "x"), 8);
    EXPECT_EQ(cut.untouchedFrom(8), -1);
}

TEST(NextField, TakesFieldsInOrderAndThenEmptyOnes)
{
    const char *text = "a,,b";
    const char *cursor = text;
    char field[16];
    const char *expected[] = { "a", "", "b", "", "" };
    for (const char *want : expected) {
        NextField(&cursor, field, sizeof field, ',');
        EXPECT_STREQ(field, want);
    }
    EXPECT_EQ(cursor, text + 4);
}

TEST(NextField, ConsumesAFieldLongerThanTheCapacity)
{
    std::string text = std::string(300, 'y') + ",next";
    const char *cursor = text.c_str();
    Sentinel field;
    NextField(&cursor, field.bytes, 260, ',');
    EXPECT_EQ(strlen(field.bytes), 259u);
    EXPECT_EQ(field.untouchedFrom(260), -1);
    EXPECT_STREQ(cursor, "next");
}

TEST(NextField, KeepsBlanks)
{
    const char *cursor = "a.exe, Editor ,x";
    char field[32];
    NextField(&cursor, field, sizeof field, ',');
    NextField(&cursor, field, sizeof field, ',');
    EXPECT_STREQ(field, " Editor ");
}

TEST(SplitPath, FindsDriveFileNameAndLastDot)
{
    struct Row {
        const char *path;
        int drive, fileName, dot;
    } rows[] = {
        { "C:\\SETUP\\SETUP.EXE", 2, 9, 14 },
        { "C:\\A.B\\README", 2, 7, 0 },
        { "C:INSTALL.EXE", 2, 2, 9 },
        { "D:\\DATA\\ARCHIVE.TAR.GZ", 2, 8, 19 },
        { "README", 0, 0, 0 },
        { "C:\\DIR\\", 2, 7, 0 },
        { "a/b.c\\d", 0, 6, 0 },
        { "", 0, 0, 0 },
        { "C", 0, 0, 0 },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.path);
        int drive = -1, fileName = -1, dot = -1;
        SplitPath(row.path, &drive, &fileName, &dot);
        EXPECT_EQ(drive, row.drive);
        EXPECT_EQ(fileName, row.fileName);
        EXPECT_EQ(dot, row.dot);
    }
}

class MeasureFileSizeTest : public SimTest {};

TEST_F(MeasureFileSizeTest, GivesTheSizeAndKeepsThePosition)
{
    sim::PutFile("C:\\DIST\\data.bin", std::string(20000, 'd'));
    HANDLE file = CreateFileA("C:\\DIST\\data.bin", GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    char chunk[100];
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(file, chunk, sizeof chunk, &read, NULL));
    EXPECT_EQ(MeasureFileSize(file), 20000);
    EXPECT_EQ(_llseek((HFILE)(INT_PTR)file, 0, FILE_CURRENT), 100);
    CloseHandle(file);
}

TEST_F(MeasureFileSizeTest, AFailedSeekGivesMinusOne)
{
    sim::PutFile("C:\\DIST\\data.bin", "abc");
    sim::FailSeek("data.bin");
    HANDLE file = CreateFileA("C:\\DIST\\data.bin", GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(MeasureFileSize(file), -1);
    CloseHandle(file);
}

}  // namespace
