// The registry key-path walk: which keys are asked for, what is read and written, and that no
// key or chain node outlives a call, whatever happens.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SimFixture.h"
#include "core/InstallState.h"
#include "system/Registry.h"

namespace {

const char COMMAND_PATH[] = "txtfile\\shell\\open\\command";
const char SENTINEL = (char)0xAA;

class RegistryTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        memset(&State, 0, sizeof State);
    }

    // Nothing of a walk may survive the call that made it.
    static void ExpectNothingHeld()
    {
        EXPECT_EQ(sim::OpenRegistryKeys(), 0);
        EXPECT_EQ(sim::LiveHeapBlocks(), 0);
        EXPECT_EQ(KeyChain.Head, nullptr);
        EXPECT_EQ(KeyChain.Tail, nullptr);
        EXPECT_EQ(KeyChain.Next, nullptr);
    }

    // Reads into a sentinel-filled buffer of `room` bytes that has `bufferSize` bytes to fill.
    LONG Read(HKEY root, const char *path, const char *name, DWORD bufferSize, size_t room = 64)
    {
        buffer_.assign(room, SENTINEL);
        return ReadRegistryValue(root, path, name, buffer_.data(), bufferSize);
    }

    std::string Text() const { return std::string(buffer_.data()); }

    std::vector<char> buffer_;
};

TEST_F(RegistryTest, ADeepPathOpensAndClosesEveryKeyTheRootIncluded)
{
    sim::RegPutString(HKEY_CLASSES_ROOT, COMMAND_PATH, "", "notepad.exe %1");
    ASSERT_EQ(Read(HKEY_CLASSES_ROOT, COMMAND_PATH, NULL, 260, 260), ERROR_SUCCESS);
    EXPECT_EQ(Text(), "notepad.exe %1");
    EXPECT_EQ(sim::RegKeyRequests(), (std::vector<std::string>{ "txtfile", "shell", "open", "command" }));
    EXPECT_EQ(sim::RegKeyOpenCount(), 4);
    EXPECT_EQ(sim::RegKeyCloseCount(), 5);
    ExpectNothingHeld();
}

TEST_F(RegistryTest, PathShapes)
{
    struct Row {
        const char *path;
        std::vector<std::string> requests;
    } rows[] = {
        { "", {} },
        { "a\\b", { "a", "b" } },
        { "a\\b\\", { "a", "b" } },
        { "\\a\\b", { "", "a", "b" } },
        { "a\\\\b", { "a", "", "b" } },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.path);
        sim::Reset(sim::Sandbox());
        // Empty components are handed to the registry, which opens the same key for them.
        sim::RegPutString(HKEY_CURRENT_USER, row.requests.empty() ? "" : "a\\b", "Value", "found");
        EXPECT_EQ(Read(HKEY_CURRENT_USER, row.path, "Value", 64), ERROR_SUCCESS);
        EXPECT_EQ(Text(), "found");
        EXPECT_EQ(sim::RegKeyRequests(), row.requests);
        EXPECT_EQ(sim::RegKeyCloseCount(), (int)row.requests.size() + 1);
        ExpectNothingHeld();
    }
}

TEST_F(RegistryTest, ALongComponentIsCutAt259Characters)
{
    std::string path = "Software\\" + std::string(300, 'x') + "\\Deeper";
    sim::RegPutString(HKEY_LOCAL_MACHINE, "Software", "Value", "x");
    // Windows refuses key names longer than 255 characters, so the cut name ends the walk.
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, path.c_str(), "Value", 64), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(sim::RegKeyRequests(), (std::vector<std::string>{ "Software", std::string(259, 'x') }));
    EXPECT_EQ(buffer_[0], SENTINEL);
    ExpectNothingHeld();

    // Where the walk creates keys, the same cut name is asked for and refused the same way.
    sim::Reset(sim::Sandbox());
    const BYTE data[] = "v";
    EXPECT_EQ(WriteRegistryValue(HKEY_LOCAL_MACHINE, path.c_str(), "Value", REG_SZ, data, 1), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(sim::RegKeyRequests(), (std::vector<std::string>{ "Software", std::string(259, 'x') }));
    ExpectNothingHeld();
}

TEST_F(RegistryTest, FailuresLeaveTheBufferAndCloseWhatWasOpened)
{
    struct Row {
        const char *name;
        void (*arrange)();
        const char *path;
        LONG result;
        int closes;
    } rows[] = {
        { "missing value", [] { sim::RegPutString(HKEY_CLASSES_ROOT, COMMAND_PATH, "Other", "x"); }, COMMAND_PATH,
          ERROR_FILE_NOT_FOUND, 5 },
        { "missing key", [] { sim::RegPutString(HKEY_CLASSES_ROOT, "txtfile\\shell", "", "x"); }, COMMAND_PATH,
          ERROR_FILE_NOT_FOUND, 3 },
        { "refused open", [] {
              sim::RegPutString(HKEY_CLASSES_ROOT, COMMAND_PATH, "", "x");
              sim::FailRegistryOpen("txtfile\\shell\\open");
          }, COMMAND_PATH, ERROR_ACCESS_DENIED, 3 },
        { "refused query", [] {
              sim::RegPutString(HKEY_CLASSES_ROOT, COMMAND_PATH, "", "x");
              sim::FailRegistryQuery("command");
          }, COMMAND_PATH, ERROR_ACCESS_DENIED, 5 },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        sim::Reset(sim::Sandbox());
        row.arrange();
        EXPECT_EQ(Read(HKEY_CLASSES_ROOT, row.path, NULL, 32), row.result);
        EXPECT_EQ(buffer_, std::vector<char>(64, SENTINEL));
        EXPECT_EQ(sim::RegKeyCloseCount(), row.closes);
        ExpectNothingHeld();
    }
}

TEST_F(RegistryTest, ATextReadBackIsAlwaysTerminatedInsideTheBuffer)
{
    struct Row {
        const char *name;
        bool withTerminator;
        DWORD bufferSize;
        LONG result;
    } rows[] = {
        { "terminated, room to spare", true, 12, ERROR_SUCCESS },
        { "terminated, exactly the buffer", true, 11, ERROR_SUCCESS },
        // A text that fills the buffer with no terminator in it cannot be ended inside it.
        { "unterminated, room for the terminator", false, 11, ERROR_SUCCESS },
        { "unterminated, exactly the buffer", false, 10, ERROR_MORE_DATA },
        { "longer than the buffer", false, 5, ERROR_MORE_DATA },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        sim::Reset(sim::Sandbox());
        sim::RegPutString(HKEY_LOCAL_MACHINE, "Software\\Quillet", "Path", "0123456789", row.withTerminator);
        EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, "Software\\Quillet", "Path", row.bufferSize), row.result);
        if (row.result == ERROR_SUCCESS)
            EXPECT_EQ(Text(), "0123456789");
        for (size_t i = row.bufferSize; i < buffer_.size(); i++)
            ASSERT_EQ(buffer_[i], SENTINEL) << "byte " << i << " lies past the buffer";
        ExpectNothingHeld();
    }
}

TEST_F(RegistryTest, OtherTypesAreReadByteForByte)
{
    const std::string bytes("\x01\x00\xFF\x7F", 4);
    sim::RegPutValue(HKEY_CURRENT_USER, "Software\\Quillet", "Binary", REG_BINARY, bytes);
    ASSERT_EQ(Read(HKEY_CURRENT_USER, "Software\\Quillet", "Binary", 16), ERROR_SUCCESS);
    EXPECT_EQ(std::string(buffer_.data(), 4), bytes);
    EXPECT_EQ(buffer_[4], '\0');
    EXPECT_EQ(buffer_[5], SENTINEL);

    sim::RegPutValue(HKEY_CURRENT_USER, "Software\\Quillet", "Empty", REG_SZ, "");
    ASSERT_EQ(Read(HKEY_CURRENT_USER, "Software\\Quillet", "Empty", 16), ERROR_SUCCESS);
    EXPECT_EQ(Text(), "");
    ExpectNothingHeld();
}

TEST_F(RegistryTest, NoMemoryForANodeClosesTheChainBuiltSoFar)
{
    sim::RegPutString(HKEY_CLASSES_ROOT, COMMAND_PATH, "", "x");
    // Allocation 1 is the head, 2 to 5 the nodes of the four components.
    for (int failing = 1; failing <= 5; failing++) {
        SCOPED_TRACE(failing);
        int closesBefore = sim::RegKeyCloseCount();
        sim::FailHeapAlloc(failing);
        EXPECT_EQ(Read(HKEY_CLASSES_ROOT, COMMAND_PATH, NULL, 32), -1);
        EXPECT_EQ(buffer_[0], SENTINEL);
        // The root and every key opened before the failure are closed; without a head, nothing.
        EXPECT_EQ(sim::RegKeyCloseCount() - closesBefore, failing - 1);
        ExpectNothingHeld();
    }
    sim::FailHeapAlloc(3);
    const BYTE data[] = "x";
    EXPECT_EQ(WriteRegistryValue(HKEY_CURRENT_USER, "a\\b\\c", "V", REG_SZ, data, 1), -1);
    ExpectNothingHeld();
}

TEST_F(RegistryTest, OpenKeyPathHandsBackTheDeepestKeyInTheChain)
{
    sim::RegPutString(HKEY_CLASSES_ROOT, COMMAND_PATH, "", "x");
    HKEY key = NULL;
    ASSERT_EQ(OpenKeyPath(HKEY_CLASSES_ROOT, COMMAND_PATH, REGISTRY_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(sim::OpenRegistryKeys(), 4);
    ASSERT_NE(KeyChain.Head, nullptr);
    EXPECT_EQ(KeyChain.Head->Key, HKEY_CLASSES_ROOT);
    EXPECT_EQ(KeyChain.Tail->Key, key);
    EXPECT_EQ(KeyChain.Tail->Next, nullptr);
    char text[8];
    DWORD size = sizeof text;
    EXPECT_EQ(RegQueryValueExA(key, NULL, NULL, NULL, (LPBYTE)text, &size), ERROR_SUCCESS);
    CloseKeyChain();
    ExpectNothingHeld();

    ASSERT_EQ(OpenKeyPath(HKEY_CLASSES_ROOT, "", REGISTRY_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(key, HKEY_CLASSES_ROOT);
    CloseKeyChain();
    ExpectNothingHeld();
}

TEST_F(RegistryTest, WritesCreateThePathAndStoreExactlyTheCount)
{
    // The text goes on past the count: only the counted bytes may be stored.
    const char text[] = "C:\\Quillet\\Quillet.exe;more";
    const DWORD count = 22;
    ASSERT_EQ(WriteRegistryValue(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Quillet.exe",
                                 "", REG_SZ, (const BYTE *)text, count),
              ERROR_SUCCESS);
    auto stored = sim::RegGet(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Quillet.exe", "");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type, (DWORD)REG_SZ);
    EXPECT_EQ(stored->bytes, "C:\\Quillet\\Quillet.exe");
    EXPECT_EQ(sim::RegKeyCloseCount(), 7);
    ExpectNothingHeld();

    const BYTE binary[] = { 1, 0, 2, 0 };
    ASSERT_EQ(WriteRegistryValue(HKEY_CURRENT_USER, "Software\\Quillet", NULL, REG_BINARY, binary, 3), ERROR_SUCCESS);
    stored = sim::RegGet(HKEY_CURRENT_USER, "Software\\Quillet", "");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type, (DWORD)REG_BINARY);
    EXPECT_EQ(stored->bytes, std::string("\x01\x00\x02", 3));

    // Writing under an existing path opens what is there and keeps its other values.
    sim::RegPutString(HKEY_CLASSES_ROOT, "txtfile", "Kept", "yes");
    ASSERT_EQ(WriteRegistryValue(HKEY_CLASSES_ROOT, "txtfile\\DefaultIcon", "", REG_SZ, (const BYTE *)"q.exe,0", 7),
              ERROR_SUCCESS);
    EXPECT_TRUE(sim::RegGet(HKEY_CLASSES_ROOT, "txtfile", "Kept").has_value());
    ExpectNothingHeld();
}

TEST_F(RegistryTest, RefusedWritesReturnTheRegistrysError)
{
    struct Row {
        const char *name;
        void (*arrange)();
        LONG result;
    } rows[] = {
        { "value refused", [] { sim::FailRegistryWrite("Uninstall", ERROR_ACCESS_DENIED); }, ERROR_ACCESS_DENIED },
        { "key refused", [] { sim::FailRegistryOpen("Uninstall", ERROR_ACCESS_DENIED); }, ERROR_ACCESS_DENIED },
        { "disk full", [] { sim::FailRegistryWrite("", ERROR_DISK_FULL); }, ERROR_DISK_FULL },
    };
    const char path[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillet";
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        sim::Reset(sim::Sandbox());
        row.arrange();
        EXPECT_EQ(WriteRegistryValue(HKEY_LOCAL_MACHINE, path, "DisplayName", REG_SZ, (const BYTE *)"Quillet", 7),
                  row.result);
        EXPECT_FALSE(sim::RegGet(HKEY_LOCAL_MACHINE, path, "DisplayName").has_value());
        ExpectNothingHeld();
    }
}

// The stand-in's registry behaves as Windows does where the walk depends on it.
class SimRegistryTest : public SimTest {};

TEST_F(SimRegistryTest, TextsGainTheirTerminatorTheWayWindowsAddsIt)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Probe", 0, (LPSTR) "", 0, KEY_READ | KEY_WRITE, NULL, &key, NULL),
              ERROR_SUCCESS);
    // A count that leaves out the NUL right after the text stores the NUL too ...
    ASSERT_EQ(RegSetValueExA(key, "A", 0, REG_SZ, (const BYTE *)"abc", 3), ERROR_SUCCESS);
    EXPECT_EQ(sim::RegGet(HKEY_CURRENT_USER, "Software\\Probe", "A").value().bytes, std::string("abc", 4));
    // ... while a count that cuts a longer text stores the cut text alone.
    ASSERT_EQ(RegSetValueExA(key, "B", 0, REG_SZ, (const BYTE *)"abcdef", 3), ERROR_SUCCESS);
    EXPECT_EQ(sim::RegGet(HKEY_CURRENT_USER, "Software\\Probe", "B").value().bytes, "abc");
    // Reading it back appends a NUL where there is room, and reports the stored size.
    char buffer[8];
    memset(buffer, '#', sizeof buffer);
    DWORD size = 8;
    ASSERT_EQ(RegQueryValueExA(key, "B", NULL, NULL, (LPBYTE)buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(std::string(buffer, 5), std::string("abc\0#", 5));
    memset(buffer, '#', sizeof buffer);
    size = 3;
    ASSERT_EQ(RegQueryValueExA(key, "B", NULL, NULL, (LPBYTE)buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(buffer, 4), "abc#");
    RegCloseKey(key);
}

TEST_F(SimRegistryTest, KeysOpenAndCreateAsOnWindows)
{
    HKEY key = (HKEY)1;
    // Nothing below a predefined key is that key itself.
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "", 0, KEY_READ | KEY_WRITE, &key), ERROR_SUCCESS);
    EXPECT_EQ(key, HKEY_CURRENT_USER);
    // A failed open leaves a null key.
    key = (HKEY)1;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Missing", 0, KEY_READ | KEY_WRITE, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, (HKEY)NULL);
    // Creating below a key does not depend on the access the parent was opened with.
    HKEY parent, child;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Probe", 0, (LPSTR) "", 0, KEY_QUERY_VALUE, NULL, &parent, NULL),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCreateKeyExA(parent, "Child", 0, (LPSTR) "", 0, KEY_READ | KEY_WRITE, NULL, &child, NULL), ERROR_SUCCESS);
    RegCloseKey(child);
    // Names up to 255 characters are keys; longer ones are refused.
    EXPECT_EQ(RegCreateKeyExA(parent, std::string(255, 'n').c_str(), 0, (LPSTR) "", 0, KEY_READ | KEY_WRITE, NULL, &child, NULL),
              ERROR_SUCCESS);
    RegCloseKey(child);
    EXPECT_EQ(RegCreateKeyExA(parent, std::string(259, 'n').c_str(), 0, (LPSTR) "", 0, KEY_READ | KEY_WRITE, NULL, &child, NULL),
              ERROR_INVALID_PARAMETER);
    RegCloseKey(parent);
    EXPECT_EQ(sim::OpenRegistryKeys(), 0);
}

}  // namespace
