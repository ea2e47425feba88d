// The program group step and the shell link calls: folders, link files and their fields, every
// failure row, and COM given back on every path.
#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>

#include <climits>
#include <string>
#include <vector>

#include "SimFixture.h"
#include "core/InstallState.h"
#include "resources/resource.h"
#include "script/TextHelpers.h"
#include "system/Shortcuts.h"

namespace {

const char SHELL_FOLDERS[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char PROGRAMS[] = "C:\\WINDOWS\\Start Menu\\Programs";
const char DESKTOP[] = "C:\\WINDOWS\\Desktop";
const char GROUP[] = "C:\\WINDOWS\\Start Menu\\Programs\\Quillet";
const char TARGET[] = "C:\\Program Files\\Quillet";

const char EXAMPLE_GROUP[] =
    "[Install]\r\nApplication=Quillet\r\n\r\n"
    "[Group]\r\n"
    "Quillet.lnk=Quillet.exe,Text editor,%Quillet.exe,0\r\n"
    "Read me.lnk=readme.txt,Read me first,,0\r\n"
    "\r\n"
    "[Registration]\r\nSuffixes=txt log ini\r\n";

class ShortcutsTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        State = InstallState();
        State.Instance = sim::Instance();
        LoadStringA(State.Instance, IDS_CLASS_NAME, State.ClassName, NAME_CAPACITY);
        LoadStringA(State.Instance, IDS_GROUP_SECTION, State.GroupSection, NAME_CAPACITY);
        LoadStringA(State.Instance, IDS_REGISTRATION_SECTION, State.RegistrationSection, NAME_CAPACITY);
        LoadStringA(State.Instance, IDS_SUFFIXES_KEY, State.SuffixesKey, NAME_CAPACITY);
        CopyString(State.ApplicationName, VALUE_CAPACITY, "Quillet");
        CopyString(State.CaptionText, VALUE_CAPACITY, "Quillet installation");
        CopyString(State.TargetDirectory, VALUE_CAPACITY, TARGET);

        window = MakeTestWindow();
        ASSERT_NE(window, nullptr);
        State.MainWindow = window;

        CreateDirectoryA("C:\\WINDOWS\\Start Menu", NULL);
        CreateDirectoryA(PROGRAMS, NULL);
        CreateDirectoryA(DESKTOP, NULL);
        sim::RegPutString(HKEY_CURRENT_USER, SHELL_FOLDERS, "Programs", PROGRAMS);
        sim::RegPutString(HKEY_CURRENT_USER, SHELL_FOLDERS, "Desktop", DESKTOP);
    }

    void TearDown() override
    {
        // Whatever path the step took, COM and the registry are given back.
        EXPECT_EQ(sim::ComInitialisations(), 0);
        EXPECT_EQ(sim::LiveComObjects(), 0);
        EXPECT_EQ(sim::OpenRegistryKeys(), 0);
        SimTest::TearDown();
    }

    void Run(const std::string &text)
    {
        script = text;
        State.InstallScript = &script[0];
        MakeShortcuts(window);
    }

    static int PostedRegistrations()
    {
        int count = 0;
        for (const auto &entry : sim::Trace()) {
            if (entry.kind == sim::TraceEntry::Post && entry.message == WM_REGISTER_APP)
                count++;
        }
        return count;
    }

    static std::vector<std::string> LinkFiles()
    {
        std::vector<std::string> files;
        for (const auto &link : sim::Links())
            files.push_back(link.file);
        return files;
    }

    HWND window = nullptr;
    std::string script;
};

#define EXPECT_LINK(path, target_, description_, iconFile_, iconIndex_)                \
    do {                                                                              \
        SCOPED_TRACE(path);                                                           \
        auto link = sim::ReadLink(path);                                              \
        ASSERT_TRUE(link.has_value());                                                \
        EXPECT_EQ(link->target, target_);                                             \
        EXPECT_EQ(link->description, description_);                                  \
        EXPECT_TRUE(link->iconSet);                                                   \
        EXPECT_EQ(link->iconFile, iconFile_);                                         \
        EXPECT_EQ(link->iconIndex, iconIndex_);                                       \
        EXPECT_EQ(link->showCommand, SW_SHOWNORMAL);                                  \
        EXPECT_EQ(link->workingDirectory, "");                                        \
        EXPECT_EQ(link->arguments, "");                                               \
    } while (0)

TEST_F(ShortcutsTest, ExampleEntriesMakeTheGroupAndOneDesktopShortcut)
{
    Run(EXAMPLE_GROUP);

    EXPECT_TRUE(sim::DirectoryExists(GROUP));
    EXPECT_EQ(LinkFiles(), (std::vector<std::string>{ std::string(GROUP) + "\\Quillet.lnk",
                                                      std::string(DESKTOP) + "\\Quillet.lnk",
                                                      std::string(GROUP) + "\\Read me.lnk" }));
    const std::string editor = std::string(TARGET) + "\\Quillet.exe";
    EXPECT_LINK(std::string(GROUP) + "\\Quillet.lnk", editor, "Text editor", editor, 0);
    EXPECT_LINK(std::string(DESKTOP) + "\\Quillet.lnk", editor, "Text editor", editor, 0);
    // An empty icon field is still handed to SetIconLocation.
    EXPECT_LINK(std::string(GROUP) + "\\Read me.lnk", std::string(TARGET) + "\\readme.txt", "Read me first", "", 0);

    EXPECT_TRUE(sim::MessageBoxes().empty());
    EXPECT_EQ(State.FailureCount, 0);
    // The step's last act is the hand-over; the capture stays for the question box to cancel.
    ASSERT_FALSE(sim::Trace().empty());
    EXPECT_EQ(sim::Trace().back().kind, sim::TraceEntry::Post);
    EXPECT_EQ(sim::Trace().back().message, (UINT)WM_REGISTER_APP);
    EXPECT_EQ(PostedRegistrations(), 1);
    EXPECT_EQ(GetCapture(), window);
}

TEST_F(ShortcutsTest, EntryFieldsBecomeTheLinkExactly)
{
    const std::string dir = TARGET;
    struct Row {
        const char *line;
        std::string linkName, target, description, iconFile;
        int iconIndex;
    } rows[] = {
        { "Editor=Quillet.exe", "Editor", dir + "\\Quillet.exe", "", "", 0 },
        { "a.lnk=a.exe,Text,%icons\\app.ico,0", "a.lnk", dir + "\\a.exe", "Text", dir + "\\icons\\app.ico", 0 },
        { "a.lnk=a.exe,Text,D:\\icons\\app.ico,1", "a.lnk", dir + "\\a.exe", "Text", "D:\\icons\\app.ico", 1 },
        { "a.lnk=a.exe,Text,x%y,2", "a.lnk", dir + "\\a.exe", "Text", "x%y", 2 },
        { "a.lnk=a.exe,Text, %x,2", "a.lnk", dir + "\\a.exe", "Text", " %x", 2 },
        { "a.lnk=%a.exe", "a.lnk", dir + "\\%a.exe", "", "", 0 },
        { "x.lnk=a.exe, Editor , ico ,4", "x.lnk", dir + "\\a.exe", " Editor ", " ico ", 4 },
        { "a.lnk = a.exe,d", "a.lnk", dir + "\\a.exe", "d", "", 0 },
        { "a.lnk=a.exe,d,i, 3", "a.lnk", dir + "\\a.exe", "d", "i", 3 },
        { "a.lnk=a.exe,d,i,\t+7", "a.lnk", dir + "\\a.exe", "d", "i", 7 },
        { "a.lnk=a.exe,d,i,x", "a.lnk", dir + "\\a.exe", "d", "i", 0 },
        { "a.lnk=a.exe,d,i,-2", "a.lnk", dir + "\\a.exe", "d", "i", -2 },
        { "a.lnk=a.exe,d,i,12abc", "a.lnk", dir + "\\a.exe", "d", "i", 12 },
        { "a.lnk=a.exe,d,i,- 5", "a.lnk", dir + "\\a.exe", "d", "i", 0 },
        { "a.lnk=a.exe,d,i,2147483647", "a.lnk", dir + "\\a.exe", "d", "i", INT_MAX },
        { "a.lnk=a.exe,d,i,99999999999", "a.lnk", dir + "\\a.exe", "d", "i", INT_MAX },
        { "a.lnk=a.exe,d,i,-2147483648", "a.lnk", dir + "\\a.exe", "d", "i", INT_MIN },
        { "a.lnk=a.exe,d,i,-99999999999", "a.lnk", dir + "\\a.exe", "d", "i", INT_MIN },
        { "a.lnk=a.exe,d,i,1,2", "a.lnk", dir + "\\a.exe", "d", "i", 1 },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.line);
        SetUp();
        Run(std::string("[Group]\r\n") + row.line + "\r\n");
        EXPECT_LINK(std::string(GROUP) + "\\" + row.linkName, row.target, row.description, row.iconFile,
                    row.iconIndex);
        EXPECT_LINK(std::string(DESKTOP) + "\\" + row.linkName, row.target, row.description, row.iconFile,
                    row.iconIndex);
        EXPECT_EQ(sim::Links().size(), 2u);
    }
}

TEST_F(ShortcutsTest, LongKeysAndValuesAreCutBeforeTheyAreSplit)
{
    // Key and value keep 127 bytes each; a description beyond them is lost with the cut.
    std::string key(200, 'k'), field(200, 't');
    Run("[Group]\r\n" + key + "=" + field + ",lost,x.ico,5\r\n");
    EXPECT_LINK(std::string(GROUP) + "\\" + key.substr(0, 127), std::string(TARGET) + "\\" + field.substr(0, 127), "",
                "", 0);
    EXPECT_EQ(sim::Links().size(), 2u);
}

TEST_F(ShortcutsTest, TheListEndsAtTheFirstEmptyEntry)
{
    const char *separators[] = { "\r\n", "; a comment\r\n", "=\r\n", "  =  \r\n" };
    for (const char *separator : separators) {
        SCOPED_TRACE(separator);
        SetUp();
        Run(std::string("[Group]\r\nA.lnk=a.exe\r\n") + separator + "B.lnk=b.exe\r\n");
        EXPECT_EQ(LinkFiles(), (std::vector<std::string>{ std::string(GROUP) + "\\A.lnk",
                                                          std::string(DESKTOP) + "\\A.lnk" }));
        EXPECT_EQ(PostedRegistrations(), 1);
    }
}

TEST_F(ShortcutsTest, AnEntryWithOnlyAValueDoesNotEndTheList)
{
    // Its link would be the group folder itself, which cannot be saved; the walk goes on.
    Run("[Group]\r\nA.lnk=a.exe\r\n=x.exe\r\nB.lnk=b.exe\r\n");
    EXPECT_EQ(LinkFiles(), (std::vector<std::string>{ std::string(GROUP) + "\\A.lnk", std::string(DESKTOP) + "\\A.lnk",
                                                      std::string(GROUP) + "\\B.lnk" }));
}

TEST_F(ShortcutsTest, WithoutApplicationNameTheLinksGoIntoProgramsItself)
{
    State.ApplicationName[0] = '\0';
    Run(EXAMPLE_GROUP);
    EXPECT_STREQ(State.GroupFolder, "C:\\WINDOWS\\Start Menu\\Programs\\");
    EXPECT_TRUE(sim::ReadLink(std::string(PROGRAMS) + "\\Quillet.lnk").has_value());
    EXPECT_TRUE(sim::ReadLink(std::string(PROGRAMS) + "\\Read me.lnk").has_value());
    EXPECT_TRUE(sim::MessageBoxes().empty());
    EXPECT_EQ(State.FailureCount, 0);
}

TEST_F(ShortcutsTest, AnExistingGroupFolderIsUsedWithoutAMessage)
{
    ASSERT_TRUE(CreateDirectoryA(GROUP, NULL));
    Run(EXAMPLE_GROUP);
    EXPECT_TRUE(sim::MessageBoxes().empty());
    EXPECT_EQ(sim::Links().size(), 3u);
    EXPECT_EQ(State.FailureCount, 0);
}

TEST_F(ShortcutsTest, AGroupFolderThatCannotBeMadeIsShownAndCounted)
{
    // Access denied is a failure here, unlike along a copy destination.
    struct Row {
        const char *name;
        DWORD error;
    } rows[] = {
        { "access denied", ERROR_ACCESS_DENIED },
        { "path not found", ERROR_PATH_NOT_FOUND },
        { "disk full", ERROR_DISK_FULL },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        CopyString(State.ApplicationName, VALUE_CAPACITY, "My Editor");
        State.FailureCount = 2;
        sim::SetUser(AnswerAll(IDOK));
        sim::FailCreateDirectory("Programs\\My Editor", row.error);
        Run(EXAMPLE_GROUP);

        ASSERT_EQ(sim::MessageBoxes().size(), 1u);
        const sim::MessageBoxRecord &box = sim::MessageBoxes()[0];
        EXPECT_EQ(box.text, "Cannot create \"C:\\WINDOWS\\Start Menu\\Programs\\My Editor\" !");
        EXPECT_EQ(box.caption, "My Editor");
        EXPECT_EQ(box.owner, window);
        EXPECT_EQ(box.type, (UINT)MB_ICONERROR);
        EXPECT_EQ(State.FailureCount, 3);
        EXPECT_EQ(GetCapture(), nullptr);
        EXPECT_TRUE(sim::Links().empty());
        EXPECT_TRUE(sim::ComCalls().empty());
        EXPECT_EQ(PostedRegistrations(), 1);
        EXPECT_EQ(sim::Trace().back().message, (UINT)WM_REGISTER_APP);
    }
}

TEST_F(ShortcutsTest, WithoutTheProgramsFolderTheRegistrationRunsAtOnce)
{
    struct Row {
        const char *name;
        bool present;
        std::string value;
    } rows[] = {
        { "missing value", false, "" },
        { "longer than the folder buffer", true, "C:\\" + std::string(200, 'p') },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        sim::RegDeleteValue(HKEY_CURRENT_USER, SHELL_FOLDERS, "Programs");
        if (row.present)
            sim::RegPutString(HKEY_CURRENT_USER, SHELL_FOLDERS, "Programs", row.value);
        std::vector<std::string> boxes;
        sim::User user;
        user.onMessageBox = [&](const sim::MessageBoxRecord &box) {
            boxes.push_back(box.text);
            return (box.type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
        };
        sim::SetUser(user);
        Run(EXAMPLE_GROUP);

        // Within this same call: the question, then the final report.
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(boxes[0], ResourceText(IDS_REGISTER_QUESTION));
        EXPECT_TRUE(sim::RegGet(HKEY_LOCAL_MACHINE,
                                "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Quillet.exe", "")
                        .has_value());
        EXPECT_EQ(PostedRegistrations(), 0);
        EXPECT_FALSE(sim::DirectoryExists(GROUP));
        EXPECT_TRUE(sim::ComCalls().empty());
        EXPECT_EQ(State.FailureCount, 0);
    }
}

TEST_F(ShortcutsTest, WithoutTheDesktopFolderNoEntryGetsADesktopShortcut)
{
    sim::RegDeleteValue(HKEY_CURRENT_USER, SHELL_FOLDERS, "Desktop");
    int opensBefore = sim::RegKeyOpenCount();
    Run(EXAMPLE_GROUP);
    EXPECT_EQ(LinkFiles(), (std::vector<std::string>{ std::string(GROUP) + "\\Quillet.lnk",
                                                      std::string(GROUP) + "\\Read me.lnk" }));
    // Programs and Desktop are each read once: the second entry does not try the desktop again.
    int opensPerRead = 6;  // Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders
    EXPECT_EQ(sim::RegKeyOpenCount() - opensBefore, 2 * opensPerRead);
    EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(ShortcutsTest, AShortcutThatCannotBeMadeIsSkippedSilently)
{
    struct Row {
        const char *name;
        void (*fault)();
        std::vector<std::string> made;  // link files, in order
    } rows[] = {
        { "CoCreateInstance fails for the first", [] { sim::FailCoCreateInstance(E_OUTOFMEMORY, 1); },
          { std::string(DESKTOP) + "\\Quillet.lnk", std::string(GROUP) + "\\Read me.lnk" } },
        { "CoCreateInstance always fails", [] { sim::FailCoCreateInstance(REGDB_E_CLASSNOTREG); }, {} },
        { "the first save fails", [] { sim::FailComMethod("Save", STG_E_ACCESSDENIED, 1); },
          { std::string(DESKTOP) + "\\Quillet.lnk", std::string(GROUP) + "\\Read me.lnk" } },
        { "the desktop save fails", [] { sim::FailOpen("Desktop\\", ERROR_ACCESS_DENIED); },
          { std::string(GROUP) + "\\Quillet.lnk", std::string(GROUP) + "\\Read me.lnk" } },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        row.fault();
        Run(EXAMPLE_GROUP);
        EXPECT_EQ(LinkFiles(), row.made);
        EXPECT_TRUE(sim::MessageBoxes().empty());
        EXPECT_EQ(State.FailureCount, 0);
        EXPECT_EQ(PostedRegistrations(), 1);
        EXPECT_EQ(sim::ComInitialisations(), 0);
        EXPECT_EQ(sim::LiveComObjects(), 0);
    }
}

TEST_F(ShortcutsTest, WithoutAGroupSectionOnlyTheHandOverHappens)
{
    Run("[Install]\r\nApplication=Quillet\r\n[Files]\r\nQuillet=Quillet.exe\r\n; [Group]\r\n");
    ASSERT_EQ(sim::Trace().size(), 1u);
    EXPECT_EQ(sim::Trace()[0].kind, sim::TraceEntry::Post);
    EXPECT_EQ(sim::Trace()[0].window, window);
    EXPECT_EQ(sim::Trace()[0].message, (UINT)WM_REGISTER_APP);
    EXPECT_EQ(sim::Trace()[0].wParam, 0u);
    EXPECT_EQ(sim::Trace()[0].lParam, 0);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(sim::RegKeyOpenCount(), 0);
    EXPECT_FALSE(sim::DirectoryExists(GROUP));
    EXPECT_TRUE(sim::ComCalls().empty());
}

// ---- CreateShortcut and the shell link object ----------------------------------------------

const std::vector<std::string> FULL_SEQUENCE = { "CoInitialize", "CoCreateInstance", "QueryInterface", "SetPath",
                                                 "SetDescription", "SetIconLocation", "SetShowCmd", "Save",
                                                 "Release", "Release", "CoUninitialize" };

TEST_F(ShortcutsTest, CreateShortcutCallsTheLinkObjectInOrder)
{
    // The target does not exist, so SetPath says S_FALSE: still a success.
    EXPECT_EQ(CreateShortcut("C:\\none.exe", "C:\\WINDOWS\\x.lnk", "d", "C:\\i.ico", 3), S_OK);
    EXPECT_EQ(sim::ComCalls(), FULL_SEQUENCE);
    auto link = sim::ReadLink("C:\\WINDOWS\\x.lnk");
    ASSERT_TRUE(link.has_value());
    EXPECT_EQ(link->target, "C:\\none.exe");
    EXPECT_EQ(link->iconFile, "C:\\i.ico");
    EXPECT_EQ(link->iconIndex, 3);
}

TEST_F(ShortcutsTest, CreateShortcutWithoutIconFileSetsNoIcon)
{
    EXPECT_EQ(CreateShortcut("C:\\a.exe", "C:\\WINDOWS\\x.lnk", "d", NULL, 3), S_OK);
    std::vector<std::string> expected = FULL_SEQUENCE;
    expected.erase(expected.begin() + 5);
    EXPECT_EQ(sim::ComCalls(), expected);
    auto link = sim::ReadLink("C:\\WINDOWS\\x.lnk");
    ASSERT_TRUE(link.has_value());
    EXPECT_FALSE(link->iconSet);
}

TEST_F(ShortcutsTest, CreateShortcutStopsAtTheFirstFailureAndGivesEverythingBack)
{
    const HRESULT failure = (HRESULT)0x80004005;
    struct Row {
        const char *method;
        std::vector<std::string> calls;
    } rows[] = {
        { "CoCreateInstance", { "CoInitialize", "CoCreateInstance", "CoUninitialize" } },
        { "QueryInterface", { "CoInitialize", "CoCreateInstance", "QueryInterface", "Release", "CoUninitialize" } },
        { "SetPath", { "CoInitialize", "CoCreateInstance", "QueryInterface", "SetPath", "Release", "Release",
                       "CoUninitialize" } },
        { "SetDescription", { "CoInitialize", "CoCreateInstance", "QueryInterface", "SetPath", "SetDescription",
                              "Release", "Release", "CoUninitialize" } },
        { "SetIconLocation", { "CoInitialize", "CoCreateInstance", "QueryInterface", "SetPath", "SetDescription",
                               "SetIconLocation", "Release", "Release", "CoUninitialize" } },
        { "SetShowCmd", { "CoInitialize", "CoCreateInstance", "QueryInterface", "SetPath", "SetDescription",
                          "SetIconLocation", "SetShowCmd", "Release", "Release", "CoUninitialize" } },
        { "Save", FULL_SEQUENCE },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.method);
        SetUp();
        if (std::string(row.method) == "CoCreateInstance")
            sim::FailCoCreateInstance(failure);
        else
            sim::FailComMethod(row.method, failure);
        EXPECT_EQ(CreateShortcut("C:\\a.exe", "C:\\WINDOWS\\x.lnk", "d", "", 0), failure);
        EXPECT_EQ(sim::ComCalls(), row.calls);
        EXPECT_FALSE(sim::GetFile("C:\\WINDOWS\\x.lnk").has_value());
        EXPECT_EQ(sim::ComInitialisations(), 0);
        EXPECT_EQ(sim::LiveComObjects(), 0);
    }
}

TEST_F(ShortcutsTest, CreateShortcutReportsTheShellsSaveErrors)
{
    // A missing folder is the Win32 "path not found" as an HRESULT.
    EXPECT_EQ(CreateShortcut("C:\\a.exe", "C:\\missing\\x.lnk", "d", "", 0), (HRESULT)0x80070003);
    EXPECT_EQ(CreateShortcut("C:\\a.exe", "C:\\WINDOWS\\bad|name.lnk", "d", "", 0), (HRESULT)0x8007007B);
    EXPECT_TRUE(sim::Links().empty());
}

TEST_F(ShortcutsTest, CreateShortcutRefusesALinkPathBeyondTheWideBuffer)
{
    std::string tooLong = "C:\\WINDOWS\\" + std::string(260, 'x');
    EXPECT_EQ(CreateShortcut("C:\\a.exe", tooLong.c_str(), "d", "", 0), (HRESULT)0x8007007A);
    std::vector<std::string> expected = FULL_SEQUENCE;
    expected.erase(expected.begin() + 7);  // never saved under a half-converted name
    EXPECT_EQ(sim::ComCalls(), expected);
    EXPECT_TRUE(sim::Links().empty());
}

TEST_F(ShortcutsTest, CreateShortcutKeepsTheCallersComInitialisation)
{
    EXPECT_EQ(CoInitialize(NULL), S_OK);
    EXPECT_EQ(CreateShortcut("C:\\a.exe", "C:\\WINDOWS\\x.lnk", "d", "", 0), S_OK);
    EXPECT_EQ(sim::ComInitialisations(), 1);
    CoUninitialize();
}

TEST_F(ShortcutsTest, ALinkNameInTheAnsiCodePageKeepsItsCharacters)
{
    // "Café €.lnk" in Windows-1252: é is 0xE9 and the euro sign 0x80.
    std::string name = "C:\\WINDOWS\\Caf\xE9 \x80.lnk";
    EXPECT_EQ(CreateShortcut("C:\\a.exe", name.c_str(), "d", "", 0), S_OK);
    ASSERT_EQ(sim::Links().size(), 1u);
    EXPECT_EQ(sim::Links()[0].file, name);
    EXPECT_TRUE(sim::ReadLink(name).has_value());
}

TEST_F(ShortcutsTest, TheShellLinkObjectNeedsCom)
{
    IShellLinkA *link = reinterpret_cast<IShellLinkA *>(1);
    EXPECT_EQ(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&link),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(link, nullptr);

    ASSERT_EQ(CoInitialize(NULL), S_OK);
    EXPECT_EQ(CoInitialize(NULL), S_FALSE);
    ASSERT_EQ(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&link), S_OK);
    IUnknown *unknown = nullptr;
    IPersistFile *file = nullptr;
    ASSERT_EQ(link->QueryInterface(IID_IUnknown, (void **)&unknown), S_OK);
    ASSERT_EQ(link->QueryInterface(IID_IPersistFile, (void **)&file), S_OK);
    EXPECT_EQ(unknown, static_cast<IUnknown *>(link));
    void *other = reinterpret_cast<void *>(1);
    EXPECT_EQ(link->QueryInterface(CLSID_ShellLink, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(sim::LiveComObjects(), 1);
    EXPECT_EQ(unknown->Release(), 2u);
    EXPECT_EQ(file->Release(), 1u);
    EXPECT_EQ(sim::LiveComObjects(), 1);
    EXPECT_EQ(link->Release(), 0u);
    EXPECT_EQ(sim::LiveComObjects(), 0);
    CoUninitialize();
    CoUninitialize();
}

}  // namespace
