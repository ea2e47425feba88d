// The same conformance checks that run against Wine's Win32, run against the stand-in; then what
// they cannot check there: reparse points (a real Win32 needs privileges to make them) and the
// stand-in's own records, faults and controls for the calls an uninstallation makes.
#include "SimFixture.h"

#include <map>

#include "../conformance/Conformance.h"

namespace {

class ConformanceTest : public SimTest {};

TEST_F(ConformanceTest, TheStandInBehavesLikeWin32)
{
    EXPECT_EQ(RunConformance(sim::Instance(), "C:\\conformance-scratch"), 0);
}

// The journal's entries of one kind, a line each: "path[ > name]: error, bytes".
std::vector<std::string> JournalLines(sim::JournalEntry::Kind kind)
{
    std::vector<std::string> lines;
    for (const sim::JournalEntry &entry : sim::Journal()) {
        if (entry.kind == kind)
            lines.push_back(entry.path + (entry.name.empty() ? "" : " > " + entry.name) + ": " +
                            std::to_string(entry.error) + ", " + std::to_string(entry.bytes));
    }
    return lines;
}

TEST_F(ConformanceTest, ReparsePointsAreListedAndRemovedAsLinks)
{
    sim::PutFile("C:\\DATA\\kept.txt", "kept");
    sim::MakeJunction("C:\\APP\\Link", "C:\\DATA");
    sim::MakeJunction("C:\\APP\\Dangling", "C:\\GONE");
    sim::MakeSymbolicLinkFile("C:\\APP\\kept.txt", "C:\\DATA\\kept.txt");
    const DWORD junction = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
    const DWORD fileLink = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_ARCHIVE;

    // Listed and asked for as links, a junction whose target is gone too; a path through a
    // junction leads into its target.
    std::map<std::string, DWORD> listed;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("C:\\APP\\*", &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do
        listed[found.cFileName] = found.dwFileAttributes;
    while (FindNextFileA(search, &found));
    FindClose(search);
    EXPECT_EQ(listed["Link"], junction);
    EXPECT_EQ(listed["Dangling"], junction);
    EXPECT_EQ(listed["kept.txt"], fileLink);
    EXPECT_EQ(GetFileAttributesA("C:\\APP\\link"), junction);
    EXPECT_EQ(GetFileAttributesA("C:\\APP\\Dangling"), junction);
    EXPECT_EQ(GetFileAttributesA("C:\\APP\\kept.txt"), fileLink);
    EXPECT_EQ(GetFileAttributesA("C:\\APP\\Link\\KEPT.TXT"), (DWORD)FILE_ATTRIBUTE_ARCHIVE);

    // A junction is no file, a file link no directory; removing the links leaves their targets.
    EXPECT_FALSE(DeleteFileA("C:\\APP\\Dangling"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_FALSE(RemoveDirectoryA("C:\\APP\\kept.txt"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_DIRECTORY);
    EXPECT_TRUE(RemoveDirectoryA("C:\\APP\\Link"));
    EXPECT_TRUE(RemoveDirectoryA("C:\\APP\\Dangling"));
    EXPECT_TRUE(DeleteFileA("C:\\APP\\kept.txt"));
    EXPECT_TRUE(RemoveDirectoryA("C:\\APP"));
    EXPECT_EQ(sim::GetFile("C:\\DATA\\kept.txt"), "kept");
}

TEST_F(ConformanceTest, RemovalsAreRecordedAndCanBeMadeToFail)
{
    ASSERT_TRUE(CreateDirectoryA("C:\\APP", NULL));
    ASSERT_TRUE(CreateDirectoryA("C:\\APP\\Empty", NULL));
    sim::FailRemoveDirectory("\\empty", ERROR_SHARING_VIOLATION, 1);

    EXPECT_FALSE(RemoveDirectoryA("C:\\APP\\Empty"));
    EXPECT_TRUE(RemoveDirectoryA("C:\\APP\\Empty"));
    // The process holds its current directory (C:\DIST) open.
    EXPECT_FALSE(RemoveDirectoryA("C:\\DIST"));

    EXPECT_EQ(JournalLines(sim::JournalEntry::DirectoryRemoved),
              (std::vector<std::string>{ "C:\\APP\\Empty: 32, 0", "C:\\APP\\Empty: 0, 0", "C:\\DIST: 32, 0" }));
    ExpectNothingHeld();
}

TEST_F(ConformanceTest, RegistryDeletionsAreRecordedAndCanBeMadeToFail)
{
    sim::RegPutString(HKEY_CURRENT_USER, "Software\\Quillet\\Kept", "Value", "v");
    sim::RegPutString(HKEY_CURRENT_USER, "Software\\Quillet\\Gone", "", "d");
    sim::FailRegistryDelete("\\kept");

    HKEY key, kept;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Quillet", 0, KEY_READ | KEY_WRITE, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(key, "Kept"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(key, "Gone"), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(key, "Kept", 0, KEY_READ | KEY_WRITE, &kept), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(kept, "Value"), ERROR_ACCESS_DENIED);
    RegCloseKey(kept);
    RegCloseKey(key);

    EXPECT_TRUE(sim::RegGet(HKEY_CURRENT_USER, "Software\\Quillet\\Kept", "Value"));
    EXPECT_FALSE(sim::RegKeyExists(HKEY_CURRENT_USER, "Software\\Quillet\\Gone"));
    EXPECT_EQ(JournalLines(sim::JournalEntry::RegistryKeyDeleted),
              (std::vector<std::string>{ "HKEY_CURRENT_USER\\Software\\Quillet\\Kept: 5, 0",
                                         "HKEY_CURRENT_USER\\Software\\Quillet\\Gone: 0, 0" }));
    EXPECT_EQ(JournalLines(sim::JournalEntry::RegistryValueDeleted),
              (std::vector<std::string>{ "HKEY_CURRENT_USER\\Software\\Quillet\\Kept > Value: 5, 0" }));
    ExpectNothingHeld();
}

TEST_F(ConformanceTest, TheCommandLineIsTheTestsToSet)
{
    sim::SetModulePath("C:\\WINDOWS\\Unquil.exe");
    EXPECT_STREQ(GetCommandLineA(), "\"C:\\WINDOWS\\Unquil.exe\"");
    sim::SetCommandLine("C:\\WINDOWS\\Unquil.exe /C:\\Program Files\\Editor");
    EXPECT_STREQ(GetCommandLineA(), "C:\\WINDOWS\\Unquil.exe /C:\\Program Files\\Editor");

    sim::Reset(sim::Sandbox());
    EXPECT_STREQ(GetCommandLineA(), "\"C:\\DIST\\SETUP.EXE\"");
}

}  // namespace
