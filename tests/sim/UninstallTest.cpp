// Installations taken away again by Unquil.exe: the machine as it was before the first one, what
// the user made kept, files in use at the restart, and nothing outside the installation touched.
#include "InstallFixture.h"

#include <map>

#include "resources/resource.h"

// Unquil.exe's entry point, under the name the host build gives it beside the installer's.
extern "C" int WINAPI UninstallerMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

namespace {

const std::string TARGET = "C:\\Program Files\\Quillet";
const std::string UNINSTALLER = "C:\\WINDOWS\\Unquil.exe";
const std::string RECORD = "C:\\WINDOWS\\Quillet.rec";
const std::string GROUP = "C:\\Users\\me\\Start Menu\\Programs\\Quillet";
const char OPEN_COMMAND[] = "txtfile\\shell\\open\\command";
const char PRINT_COMMAND[] = "txtfile\\shell\\print\\command";
const char NOTEPAD_OPEN[] = "\"C:\\WINDOWS\\system32\\notepad.exe\" \"%1\"";

// The registry places an installation changes, as the uninstaller must give them back.
const struct {
    HKEY root;
    const char *path, *name;
} WATCHED[] = {
    { HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Quillet.exe", "" },
    { HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillet", "UninstallString" },
    { HKEY_CLASSES_ROOT, "txtfile\\DefaultIcon", "" },
    { HKEY_CLASSES_ROOT, OPEN_COMMAND, "" },
    { HKEY_CLASSES_ROOT, PRINT_COMMAND, "" },
    { HKEY_CLASSES_ROOT, ".txt", "" },
    { HKEY_CLASSES_ROOT, ".log", "" },
    { HKEY_CLASSES_ROOT, ".ini", "" },
};

class UninstallTest : public InstallTest {
protected:
    // A machine with a text-file handler of its own: open as the expandable text Windows keeps,
    // .ini mapped to another type, and no .txt or .log key.
    void SetUp() override
    {
        InstallTest::SetUp();
        LayOutExample();
        sim::RegPutValue(HKEY_CLASSES_ROOT, OPEN_COMMAND, "", REG_EXPAND_SZ, std::string(NOTEPAD_OPEN) + '\0');
        sim::RegPutString(HKEY_CLASSES_ROOT, PRINT_COMMAND, "", "notepad.exe /p %1");
        sim::RegPutString(HKEY_CLASSES_ROOT, ".ini", "", "inifile");
        before = Machine();
    }

    // Every file below C:\ (but the distribution and the editor's settings, which a clean
    // installation deletes by design) with its bytes, then every watched value and key.
    static std::map<std::string, std::string> Machine()
    {
        std::map<std::string, std::string> state;
        for (const std::string &file : FilesBelow("C:\\")) {
            if (file.rfind("DIST", 0) != 0 && file != "WINDOWS\\Quillet.cfg")
                state["file " + file] = sim::GetFile("C:\\" + file).value_or("?");
        }
        for (const auto &watched : WATCHED) {
            std::string where = std::string(watched.root == HKEY_LOCAL_MACHINE ? "HKLM\\" : "HKCR\\") + watched.path;
            state["key " + where] = sim::RegKeyExists(watched.root, watched.path) ? "present" : "absent";
            if (auto value = sim::RegGet(watched.root, watched.path, watched.name))
                state["value " + where] = std::to_string(value->type) + ":" + value->bytes;
        }
        state["directory target"] = sim::DirectoryExists(TARGET) ? "present" : "absent";
        state["directory group"] = sim::DirectoryExists(GROUP) ? "present" : "absent";
        return state;
    }

    // Unquil.exe started by the uninstall entry's command, running from the Windows directory.
    int Uninstall(const std::string &arguments = "/" + TARGET)
    {
        sim::ClearRecords();
        sim::SetModulePath(UNINSTALLER);
        sim::RunProgram(UNINSTALLER);
        sim::SetCommandLine(UNINSTALLER + " " + arguments);
        sim::User user;
        user.onMessageBox = [](const sim::MessageBoxRecord &box) {
            return (box.type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
        };
        sim::SetUser(user);
        int code;
        try {
            code = UninstallerMain(sim::Instance(), nullptr, nullptr, SW_SHOWNORMAL);
        } catch (const sim::ProcessExit &exit) {
            code = (int)exit.code;
        }
        sim::EndPrograms();
        sim::SetModulePath("C:\\DIST\\SETUP.EXE");
        return code;
    }

    // A new machine for the next row of a table.
    void FreshMachine()
    {
        TearDown();
        SetUp();
    }

    // The texts of the boxes the uninstaller showed, in order.
    static std::vector<std::string> Boxes()
    {
        std::vector<std::string> texts;
        for (const auto &box : sim::MessageBoxes())
            texts.push_back(box.text);
        return texts;
    }

    std::vector<std::string> Removed(UINT report, const std::string &argument = "")
    {
        return { Text(IDS_UNINSTALL_QUESTION_S, TARGET), Text(report, argument) };
    }

    std::map<std::string, std::string> before;
};

TEST_F(UninstallTest, InstallThenRemoveGivesBackTheMachineAsItWas)
{
    ASSERT_EQ(Run(), 0);
    ASSERT_EQ(sim::RegGet(HKEY_CLASSES_ROOT, OPEN_COMMAND, "")->type, (DWORD)REG_SZ);

    EXPECT_EQ(Uninstall(), 0);
    EXPECT_EQ(Boxes(), Removed(IDS_UNINSTALL_DONE));
    // The running uninstaller alone remains, moved aside and deleted at the restart.
    std::map<std::string, std::string> after = Machine();
    EXPECT_EQ(after.erase("file WINDOWS\\Unquil.exe.~del"), 1u);
    EXPECT_EQ(after, before);
    EXPECT_EQ(sim::RestartDeletions(), std::vector<std::string>{ UNINSTALLER + ".~del" });
    EXPECT_EQ(sim::OpenRegistryKeys(), 0);
    EXPECT_EQ(sim::OpenFileHandles(), 0);

    // Removed, then installed again: as a first installation, and removed as well.
    ResetRun();
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(Uninstall(), 0);
    after = Machine();
    after.erase("file WINDOWS\\Unquil.exe.~del");
    EXPECT_EQ(after, before);
}

TEST_F(UninstallTest, AnUpgradeThenARemovalGivesBackTheStateBeforeTheFirstInstallation)
{
    ASSERT_EQ(Run(), 0);
    sim::PutFile("C:\\DIST\\Quillet.exe", std::string(25000, 'N'));
    ResetRun();
    // The second run answers No: the editor's own commands stay, and their "before" is still
    // the handler the machine had.
    onBox = [](const sim::MessageBoxRecord &box) { return (box.type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK; };
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(Uninstall(), 0);
    std::map<std::string, std::string> after = Machine();
    after.erase("file WINDOWS\\Unquil.exe.~del");
    EXPECT_EQ(after, before);
}

// The record stays true to the machine whatever a later run did: an installation into another
// directory adds to it (the uninstall entry names either directory), and a cancelled upgrade notes
// the files it had already replaced. The removal then gives back the machine as before the first.
TEST_F(UninstallTest, ALaterRunElsewhereOrCancelledOrphansNothing)
{
    const std::string elsewhere = "C:\\Apps\\Quillet";
    struct Row {
        const char *name;
        std::string arguments;
        bool cancelAtHelp;
        std::string removal;
    } rows[] = {
        { "a second installation into another directory", "/S /D=" + elsewhere, false, "/" + elsewhere },
        { "the same, removed from the earlier directory's entry", "/S /D=" + elsewhere, false, "/" + TARGET },
        { "an upgrade cancelled after it replaced the editor", "", true, "/" + TARGET },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        FreshMachine();
        ASSERT_EQ(Run(), 0);
        sim::PutFile("C:\\DIST\\Quillet.exe", std::string(25000, 'N'));
        ResetRun();
        if (row.cancelAtHelp) {
            onMessage = [](const MSG &msg) {
                if (msg.message == WM_COPY_NEXT_FILE && std::string(State.EntryKey) == "Help")
                    sim::PressButton(State.CopyDialog, IDC_COPY_CANCEL);
            };
        }
        ASSERT_EQ(Run(row.arguments), row.cancelAtHelp ? ERROR_INSTALL_USEREXIT : 0);
        EXPECT_EQ(sim::GetFile(TARGET + "\\Quillet.exe"), row.cancelAtHelp ? std::string(25000, 'N') : std::string(20000, 'Q'));

        EXPECT_EQ(Uninstall(row.removal), 0);
        std::map<std::string, std::string> after = Machine();
        after.erase("file WINDOWS\\Unquil.exe.~del");
        EXPECT_EQ(after, before);
    }
}

TEST_F(UninstallTest, WhatTheUserMadeStaysAndIsListed)
{
    ASSERT_EQ(Run(), 0);
    sim::PutFile(TARGET + "\\notes.txt", "my notes");
    sim::PutFile(TARGET + "\\readme.txt", "Read me first, and my remarks.\r\n");
    // Someone else's handler since: not the installation's to change back.
    sim::RegPutString(HKEY_CLASSES_ROOT, PRINT_COMMAND, "", "wordpad.exe /p \"%1\"");

    EXPECT_EQ(Uninstall(), 0);
    EXPECT_EQ(Boxes(), Removed(IDS_UNINSTALL_KEPT_S, TARGET + "\\readme.txt\n" + TARGET + "\\notes.txt"));
    EXPECT_EQ(sim::GetFile(TARGET + "\\notes.txt"), std::string("my notes"));
    EXPECT_TRUE(sim::GetFile(TARGET + "\\readme.txt").has_value());
    EXPECT_FALSE(sim::GetFile(TARGET + "\\Quillet.exe").has_value());
    EXPECT_FALSE(sim::DirectoryExists(TARGET + "\\help"));
    EXPECT_EQ(sim::RegGet(HKEY_CLASSES_ROOT, PRINT_COMMAND, "")->bytes, std::string("wordpad.exe /p \"%1\"") + '\0');
    EXPECT_EQ(sim::RegGet(HKEY_CLASSES_ROOT, OPEN_COMMAND, "")->bytes, std::string(NOTEPAD_OPEN) + '\0');
}

TEST_F(UninstallTest, TheEditorRunningIsRemovedAtTheRestart)
{
    ASSERT_EQ(Run(), 0);
    sim::RunProgram(TARGET + "\\Quillet.exe");
    EXPECT_EQ(Uninstall(), 3010);
    EXPECT_EQ(Boxes(), Removed(IDS_UNINSTALL_RESTART));
    EXPECT_FALSE(sim::GetFile(TARGET + "\\Quillet.exe").has_value());
    std::vector<std::string> pending = sim::RestartDeletions();
    EXPECT_EQ(pending, (std::vector<std::string>{ TARGET + "\\Quillet.exe.~del", TARGET, UNINSTALLER + ".~del" }));
    EXPECT_FALSE(sim::GetFile(RECORD).has_value());
}

TEST_F(UninstallTest, FailuresAreReportedAndTheRecordKeptForAnotherTry)
{
    struct Row {
        const char *name;
        std::function<void()> arrange;
        std::string item;
    };
    const std::vector<Row> rows = {
        { "a value that cannot be given back", [] { sim::FailRegistryWrite(OPEN_COMMAND); },
          std::string("HKCR\\") + OPEN_COMMAND },
        { "a file that can be neither deleted nor moved aside",
          [] {
              sim::RunProgram(TARGET + "\\Quillet.exe");
              sim::FailRestartDeletion(ERROR_ACCESS_DENIED);
          },
          TARGET + "\\Quillet.exe" },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        FreshMachine();
        ASSERT_EQ(Run(), 0);
        row.arrange();
        EXPECT_EQ(Uninstall(), ERROR_INSTALL_FAILURE);
        EXPECT_EQ(Boxes(), Removed(IDS_UNINSTALL_FAILED_S, row.item));
        EXPECT_TRUE(sim::GetFile(RECORD).has_value());
    }
}

// Puts `line` at the top of `section` of the record.
void AddRecordLine(const std::string &section, const std::string &line)
{
    std::string record = *sim::GetFile(RECORD);
    record.insert(record.find(section + "\r\n") + section.size() + 2, line + "\r\n");
    sim::PutFile(RECORD, record);
}

TEST_F(UninstallTest, NothingIsTouchedWithoutATrustworthyRecordOfThatDirectory)
{
    struct Row {
        const char *name;
        std::function<void()> arrange;
        std::string arguments;
        std::vector<std::string> boxes;
    };
    const std::string elsewhere = "C:\\Other Place";
    const std::vector<Row> rows = {
        { "another directory", [] {}, "/" + elsewhere, { Text(IDS_UNINSTALL_NOTHING_S, elsewhere) } },
        { "no record", [] { DeleteFileA(RECORD.c_str()); }, "/" + TARGET,
          { Text(IDS_UNINSTALL_NOTHING_S, TARGET) } },
        { "a record that cannot be read", [] { sim::FailOpen("Quillet.rec", ERROR_ACCESS_DENIED); }, "/" + TARGET,
          { Text(IDS_CANNOT_READ_S, RECORD) } },
        // A line that names a file of the user's, with its very size and time.
        { "a record that names a place outside the installation",
          [] {
              std::string record = *sim::GetFile(RECORD);
              WIN32_FIND_DATAA found;
              FindClose(FindFirstFileA("C:\\Users\\me\\Desktop\\placeholder", &found));
              char line[200];
              snprintf(line, sizeof line, "C:\\Users\\me\\Desktop\\placeholder=new|0|%08lX%08lX\r\n",
                       found.ftLastWriteTime.dwHighDateTime, found.ftLastWriteTime.dwLowDateTime);
              record.insert(record.find("[Files]\r\n") + 9, line);
              sim::PutFile(RECORD, record);
          },
          "/" + TARGET, { Text(IDS_UNINSTALL_REFUSED) } },
        { "a value of another program's key",
          [] { AddRecordLine("[Registry]", "HKLM\\Software\\Other|Run=-|1:C:\\evil.exe"); }, "/" + TARGET,
          { Text(IDS_UNINSTALL_REFUSED) } },
        { "a path that leads out by way of ..",
          [] { AddRecordLine("[Files]", TARGET + "\\..\\..\\Users\\me\\Desktop\\placeholder=new|0|0000000000000000"); },
          "/" + TARGET,
          { Text(IDS_UNINSTALL_REFUSED) } },
        { "a line that is not well formed", [] { AddRecordLine("[Registry]", "HKCR\\.txt|=garbage"); },
          "/" + TARGET, { Text(IDS_UNINSTALL_REFUSED) } },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        FreshMachine();
        ASSERT_EQ(Run(), 0);
        row.arrange();
        std::map<std::string, std::string> installed = Machine();
        EXPECT_EQ(Uninstall(row.arguments), ERROR_INSTALL_FAILURE);
        EXPECT_EQ(Boxes(), row.boxes);
        EXPECT_EQ(Machine(), installed);
        EXPECT_TRUE(sim::GetFile("C:\\Users\\me\\Desktop\\placeholder").has_value());
    }
}

TEST_F(UninstallTest, AJunctionInTheInstallationIsNeverFollowed)
{
    ASSERT_EQ(Run(), 0);
    // The help folder replaced by a junction to a folder holding a file just like the installed one.
    const std::string victim = "C:\\Victim\\Quillet.hlp";
    sim::PutFile(victim, *sim::GetFile(TARGET + "\\help\\Quillet.hlp"));
    FILETIME creation, access, write;
    sim::GetFileTimes(TARGET + "\\help\\Quillet.hlp", &creation, &access, &write);
    sim::PutFileTimes(victim, creation, access, write);
    DeleteFileA((TARGET + "\\help\\Quillet.hlp").c_str());
    RemoveDirectoryA((TARGET + "\\help").c_str());
    sim::MakeJunction(TARGET + "\\help", "C:\\Victim");

    EXPECT_EQ(Uninstall(), 0);
    EXPECT_TRUE(sim::GetFile(victim).has_value());
    EXPECT_EQ(Boxes(), Removed(IDS_UNINSTALL_KEPT_S, TARGET + "\\help\\Quillet.hlp\n" + TARGET + "\\help"));
}

// The same junction, swapped in by someone else between the look at the file and its deletion: the
// file that was looked at is the one deleted, and nothing is followed.
TEST_F(UninstallTest, AJunctionSwappedInAfterTheLookIsNeverFollowed)
{
    ASSERT_EQ(Run(), 0);
    const std::string victim = "C:\\Victim\\Quillet.hlp", installed = TARGET + "\\help\\Quillet.hlp";
    sim::PutFile(victim, *sim::GetFile(installed));
    FILETIME creation, access, write;
    sim::GetFileTimes(installed, &creation, &access, &write);
    sim::PutFileTimes(victim, creation, access, write);
    sim::SwapAtDelete(installed, TARGET + "\\help", "C:\\Victim");

    EXPECT_EQ(Uninstall(), 0);
    EXPECT_TRUE(sim::GetFile(victim).has_value());
    EXPECT_FALSE(sim::GetFile(TARGET + "\\help.moved\\Quillet.hlp").has_value());
    // The junction and the folder moved aside are someone else's.
    EXPECT_EQ(Boxes(), Removed(IDS_UNINSTALL_KEPT_S, TARGET + "\\help\n" + TARGET + "\\help.moved"));
}

TEST_F(UninstallTest, SwitchesAsTheInstallersAndASilentRemoval)
{
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(Uninstall("/?"), 0);
    EXPECT_EQ(Boxes(), std::vector<std::string>{ Text(IDS_UNINSTALL_SWITCHES) });
    EXPECT_EQ(Uninstall("/NOASSOCIATE /" + TARGET), ERROR_INVALID_PARAMETER);
    HANDLE other = CreateMutexA(NULL, FALSE, "Global\\QuilletSetup");
    EXPECT_EQ(Uninstall("/S /" + TARGET), ERROR_INSTALL_ALREADY_RUNNING);
    CloseHandle(other);
    EXPECT_TRUE(sim::GetFile(TARGET + "\\Quillet.exe").has_value());

    EXPECT_EQ(Uninstall("/S /LOG=C:\\remove.log /" + TARGET), 0);
    EXPECT_TRUE(sim::MessageBoxes().empty());
    EXPECT_FALSE(sim::GetFile(TARGET + "\\Quillet.exe").has_value());
    std::string log = sim::GetFile("C:\\remove.log").value_or("");
    EXPECT_NE(log.find("File deleted: " + TARGET + "\\Quillet.exe"), std::string::npos);
    EXPECT_NE(log.find("Exit code: 0"), std::string::npos);
}

}  // namespace
