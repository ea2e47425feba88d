// The installation record read back as it was written: every byte the script reader would take
// for something else, at either end of a field and at the longest a field may be.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "SimFixture.h"
#include "system/InstallRecord.h"

namespace {

const unsigned char SENTINEL = 0xCC;

class InstallRecordTest : public SimTest {
protected:
    void TearDown() override
    {
        EndInstallRecord();
        if (handle != nullptr) {
            GlobalUnlock(handle);
            GlobalFree(handle);
        }
        SimTest::TearDown();
    }

    // Saves the record being written and loads it back.
    const char *SaveAndLoad()
    {
        EXPECT_EQ(SaveInstallRecord(), (DWORD)ERROR_SUCCESS);
        EndInstallRecord();
        char *text = nullptr;
        EXPECT_EQ(LoadInstallRecord(&handle, &text), (DWORD)ERROR_SUCCESS);
        return text;
    }

    static std::vector<RecordItem> Items(const char *record, int section)
    {
        std::vector<RecordItem> items;
        EXPECT_EQ(WalkRecordSection(
                      record, section, FALSE,
                      [](const RecordItem *item, LPARAM context) {
                          ((std::vector<RecordItem> *)context)->push_back(*item);
                          return 0;
                      },
                      (LPARAM)&items),
                  0);
        return items;
    }

    static std::string Bytes(const RecordedData &data) { return std::string((const char *)data.Bytes, data.Count); }

    HGLOBAL handle = nullptr;
};

TEST_F(InstallRecordTest, AwkwardBytesComeBackAsTheyWere)
{
    const std::string longest = "C:\\" + std::string(RECORD_FIELD_CAPACITY - 4, 'x');
    const std::vector<std::string> texts = {
        " blank first", "blank last ", "a;b", "[Files]", "key=value", "100%", "%41", "bar|bar", "type:1",
        "\xE9t\xE9 \x80\xFF", "line\r\nend\ttab", longest,
    };
    ASSERT_EQ(BeginInstallRecord("C:\\Quillet"), 0);
    for (size_t i = 0; i < texts.size(); i++) {
        const std::string &text = texts[i];
        FILETIME written = { (DWORD)i, 0x80000000u | (DWORD)i };
        RecordFile(text.c_str(), (int)(i % 2), (DWORD)(i * 1000 + 7), &written);
        RecordLink(text.c_str());
        // A value's key and name share one field; the longest text goes into its data instead.
        const std::string name = text == longest ? "long" : text;
        const std::string before = text == longest ? longest : text + '\0';
        const std::string after = text == longest ? longest.substr(5) : text;
        RecordRegistryValue(HKEY_CLASSES_ROOT, "k", name.c_str(), ERROR_SUCCESS, REG_EXPAND_SZ,
                            (const BYTE *)before.data(), (DWORD)before.size(), REG_BINARY,
                            (const BYTE *)after.data(), (DWORD)after.size());
    }
    const char *record = SaveAndLoad();
    ASSERT_NE(record, nullptr);
    // One byte more than a field holds is not kept at all, rather than given back wrong.
    ASSERT_EQ(BeginInstallRecord("C:\\Quillet"), 0);
    const std::string tooLong = longest + 'x';
    RecordRegistryValue(HKEY_CLASSES_ROOT, "k", "more", ERROR_FILE_NOT_FOUND, REG_NONE, NULL, 0, REG_BINARY,
                        (const BYTE *)tooLong.data(), (DWORD)tooLong.size());
    EXPECT_EQ(SaveInstallRecord(), (DWORD)ERROR_NOT_ENOUGH_MEMORY);
    EndInstallRecord();

    std::vector<RecordItem> files = Items(record, RECORD_FILES), links = Items(record, RECORD_LINKS),
                            values = Items(record, RECORD_VALUES);
    ASSERT_EQ(files.size(), texts.size());
    ASSERT_EQ(links.size(), texts.size());
    ASSERT_EQ(values.size(), texts.size());
    for (size_t i = 0; i < texts.size(); i++) {
        const std::string &text = texts[i];
        SCOPED_TRACE(text.substr(0, 40));
        EXPECT_EQ(files[i].Name, text);
        EXPECT_EQ(files[i].ExistedBefore, (int)(i % 2));
        EXPECT_EQ(files[i].Size, (DWORD)(i * 1000 + 7));
        EXPECT_EQ(files[i].LastWrite.dwLowDateTime, (DWORD)i);
        EXPECT_EQ(files[i].LastWrite.dwHighDateTime, 0x80000000u | (DWORD)i);
        EXPECT_EQ(links[i].Name, text);
        EXPECT_EQ(values[i].Root, HKEY_CLASSES_ROOT);
        EXPECT_STREQ(values[i].KeyPath, "k");
        EXPECT_EQ(values[i].ValueName, text == longest ? "long" : text);
        EXPECT_TRUE(values[i].Before.Present);
        EXPECT_EQ(values[i].Before.Type, (DWORD)REG_EXPAND_SZ);
        EXPECT_EQ(Bytes(values[i].Before), text == longest ? longest : text + '\0');
        EXPECT_EQ(values[i].Written.Type, (DWORD)REG_BINARY);
        EXPECT_EQ(Bytes(values[i].Written), text == longest ? longest.substr(5) : text);
    }
}

// The places are read into fields of their own widths: the longest that fits, to its last byte and
// no further, and a directory longer than any installation's is no record of the installer's.
TEST_F(InstallRecordTest, PlacesFillTheirFieldsAndNoMore)
{
    const std::string directory = "C:\\" + std::string(VALUE_CAPACITY - 5, 'd');
    const std::string group = "C:\\" + std::string(RECORD_FIELD_CAPACITY - 4, 'g');
    ASSERT_EQ(BeginInstallRecord(directory.c_str()), 0);
    RecordGroup(group.c_str());
    RecordDesktop(" C:\\Desk=top; ");
    const char *record = SaveAndLoad();
    ASSERT_NE(record, nullptr);

    RecordPlaces places;
    memset(&places, SENTINEL, sizeof places);
    ASSERT_EQ(ReadRecordPlaces(record, &places), 0);
    EXPECT_EQ(places.Directory, directory);
    EXPECT_EQ((unsigned char)places.Directory[VALUE_CAPACITY - 1], SENTINEL);
    EXPECT_EQ(places.Group, group);
    EXPECT_EQ(places.Desktop, std::string(" C:\\Desk=top; "));

    GlobalUnlock(handle);
    GlobalFree(handle);
    handle = nullptr;
    ASSERT_EQ(BeginInstallRecord((directory + "dd").c_str()), 0);
    record = SaveAndLoad();
    EXPECT_EQ(ReadRecordPlaces(record, &places), -1);
}

}  // namespace
