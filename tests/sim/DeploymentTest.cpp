// Whole installations the way deployment tools run them: switches, a silent run, the log, one
// installation at a time, the exit codes callers read, and the uninstall entry inventory tools read.
#include "InstallFixture.h"

#include <sstream>

#include "resources/resource.h"

namespace {

const char LOG[] = "C:\\setup.log";
const std::string TARGET = "C:\\Program Files\\Quillet";
const char SHELL_FOLDERS[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char UNINSTALL_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillet";
const char COMMON_PROGRAMS[] = "C:\\ProgramData\\Start Menu\\Programs";
const char COMMON_DESKTOP[] = "C:\\Users\\Public\\Desktop";
const char MUTEX[] = "Global\\QuilletSetup";

class DeploymentTest : public InstallTest {
protected:
    // A fresh machine with the example distribution and the machine's common shell folders.
    void SetUp() override
    {
        InstallTest::SetUp();
        LayOutExample();
        sim::RegPutString(HKEY_LOCAL_MACHINE, SHELL_FOLDERS, "Common Programs", COMMON_PROGRAMS);
        sim::RegPutString(HKEY_LOCAL_MACHINE, SHELL_FOLDERS, "Common Desktop", COMMON_DESKTOP);
        sim::PutFile(std::string(COMMON_PROGRAMS) + "\\placeholder", "");
        sim::PutFile(std::string(COMMON_DESKTOP) + "\\placeholder", "");
    }

    // The log's lines without the time of day ("HH:MM:SS.mmm ") in front of each.
    static std::vector<std::string> LogLines()
    {
        std::vector<std::string> lines;
        std::istringstream log(sim::GetFile(LOG).value_or(""));
        for (std::string line; std::getline(log, line);) {
            EXPECT_TRUE(line.size() > 13 && line[2] == ':' && line[5] == ':' && line[8] == '.' && line[12] == ' ' &&
                        line.back() == '\r')
                << line;
            lines.push_back(line.substr(13, line.size() - 14));
        }
        return lines;
    }

    static int Dialogs()
    {
        int count = 0;
        for (const sim::TraceEntry &entry : sim::Trace())
            count += entry.kind == sim::TraceEntry::DialogOpened;
        return count;
    }

    bool NothingInstalled() const
    {
        return !sim::DirectoryExists(TARGET) && !sim::RegKeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY) &&
               sim::GetFile("C:\\WINDOWS\\Quillet.cfg").has_value();
    }
};

// Lines of `log` that hold `text`, to keep an expectation readable.
bool Logged(const std::vector<std::string> &log, const std::string &text)
{
    for (const std::string &line : log) {
        if (line == text)
            return true;
    }
    return false;
}

TEST_F(DeploymentTest, ASilentRunAsksNobodyTakesEveryDefaultAndLogsEveryEffect)
{
    onBox = [](const sim::MessageBoxRecord &box) -> int { throw sim::SimFailure("a box was shown: " + box.text); };
    bool everVisible = false;
    onMessage = [&](const MSG &msg) { everVisible = everVisible || (msg.hwnd && IsWindowVisible(msg.hwnd)); };

    EXPECT_EQ(Run("/S /LOG=C:\\setup.log"), ERROR_SUCCESS);

    EXPECT_TRUE(sim::MessageBoxes().empty());
    EXPECT_EQ(Dialogs(), 0);
    EXPECT_FALSE(everVisible);
    EXPECT_EQ(sim::GetFile(TARGET + "\\Quillet.exe"), std::string(20000, 'Q'));
    EXPECT_EQ(sim::GetFile("C:\\WINDOWS\\Unquil.exe"), std::string(8192, 'U'));
    // Every user's Start menu and desktop, not those of the account the tool runs as.
    ASSERT_EQ(sim::Links().size(), 3u);
    EXPECT_EQ(sim::Links()[0].file, std::string(COMMON_PROGRAMS) + "\\Quillet\\Quillet.lnk");
    EXPECT_EQ(sim::Links()[1].file, std::string(COMMON_DESKTOP) + "\\Quillet.lnk");
    EXPECT_FALSE(sim::DirectoryExists("C:\\Users\\me\\Start Menu\\Programs\\Quillet"));
    // Yes to the question, the suffixes as offered.
    EXPECT_TRUE(sim::RegGet(HKEY_CLASSES_ROOT, ".ini", "").has_value());
    EXPECT_FALSE(sim::GetFile("C:\\WINDOWS\\Quillet.cfg").has_value());

    std::vector<std::string> log = LogLines();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[1], "Command line: /S /LOG=C:\\setup.log");
    for (const std::string &line : std::vector<std::string>{
             "Mode: silent, shortcuts for all users",
             "Target directory: " + TARGET,
             "Directory created: " + TARGET,
             "File copied: " + TARGET + "\\Quillet.exe (20000 bytes)",
             "Directory created: " + TARGET + "\\help",
             "File copied: C:\\WINDOWS\\Unquil.exe (8192 bytes)",
             "Shortcut created: " + std::string(COMMON_DESKTOP) + "\\Quillet.lnk -> " + TARGET + "\\Quillet.exe",
             "Registry value written: HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\App "
             "Paths\\Quillet.exe [(default)] = " + TARGET + "\\Quillet.exe",
             "Registry value written: HKEY_LOCAL_MACHINE\\" + std::string(UNINSTALL_KEY) + " [NoRepair] = 1",
             "Message not shown (silent run): \"Quillet installation\": \"" + Text(IDS_REGISTER_QUESTION) + "\" -> Yes",
             "File types: \"txt log ini\" -> Yes",
             "Message not shown (silent run): \"Quillet installation\": \"" + Text(IDS_REPORT_DONE_S, "Quillet") +
                 "\" -> OK",
             "File deleted: C:\\WINDOWS\\Quillet.cfg",
         }) {
        EXPECT_TRUE(Logged(log, line)) << line;
    }
    EXPECT_EQ(log.back(), "Exit code: 0");
    ExpectNothingHeld();
}

TEST_F(DeploymentTest, ASilentUpgradeWhileTheEditorRunsIsCompleteAndLogsTheFileMovedAside)
{
    ASSERT_EQ(Run("/S"), ERROR_SUCCESS);
    sim::PutFile("C:\\DIST\\Quillet.exe", std::string(21000, 'N'));
    sim::RunProgram(TARGET + "\\Quillet.exe");
    ResetRun();

    EXPECT_EQ(Run("/S /LOG=C:\\setup.log"), ERROR_SUCCESS);
    EXPECT_EQ(sim::GetFile(TARGET + "\\Quillet.exe"), std::string(21000, 'N'));
    EXPECT_TRUE(Logged(LogLines(),
                       "File in use moved aside: " + TARGET + "\\Quillet.exe.~old (deleted at the next restart)"));
}

TEST_F(DeploymentTest, SilentAnswersFollowTheSwitches)
{
    // No to the question: the text file type is left as it was.
    EXPECT_EQ(Run("/S /NOASSOCIATE"), ERROR_SUCCESS);
    EXPECT_FALSE(sim::RegKeyExists(HKEY_CLASSES_ROOT, "txtfile\\DefaultIcon"));
    EXPECT_TRUE(sim::RegGet(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "DisplayName").has_value());

    // A missing source: the boxes a user would have had to close are passed, the report is a failure.
    SetUp();
    sim::FailOpen("DIST\\readme.txt");
    EXPECT_EQ(Run("/s /log=C:\\setup.log"), ERROR_INSTALL_FAILURE);
    EXPECT_TRUE(sim::MessageBoxes().empty());
    std::vector<std::string> log = LogLines();
    EXPECT_TRUE(Logged(log, "Message not shown (silent run): \"" + Text(IDS_CLASS_NAME) + "\": \"" +
                                Text(IDS_CANNOT_OPEN_S, "C:\\DIST\\readme.txt") + "\" -> OK"));
    EXPECT_TRUE(Logged(log, "File not copied: readme.txt (its source C:\\DIST\\readme.txt cannot be opened)"));
    EXPECT_EQ(log.back(), "Exit code: 1603");
}

TEST_F(DeploymentTest, ARequestedDirectoryIsTheInteractiveProposalAndTheSilentChoice)
{
    std::string proposed;
    onDirectory = [&](HWND dialog) {
        proposed = sim::ControlText(dialog, IDC_DIRECTORY_EDIT);
        sim::PressButton(dialog, IDC_DIRECTORY_INSTALL);
    };
    EXPECT_EQ(Run("/LOG=C:\\setup.log /D=C:\\My Apps\\Quillet"), ERROR_SUCCESS);
    EXPECT_EQ(proposed, "C:\\My Apps\\Quillet");
    EXPECT_TRUE(sim::GetFile("C:\\My Apps\\Quillet\\readme.txt").has_value());
    // An interactive run logs what the user was shown and answered.
    EXPECT_TRUE(Logged(LogLines(), "Message shown: \"Quillet installation\": \"" + Text(IDS_REGISTER_QUESTION) +
                                       "\" -> Yes"));

    SetUp();
    EXPECT_EQ(Run("/S /D=C:\\Silent"), ERROR_SUCCESS);
    EXPECT_TRUE(sim::GetFile("C:\\Silent\\Quillet.exe").has_value());
}

// The codes a caller reads when the installation does not happen at all; each case touches nothing.
TEST_F(DeploymentTest, RefusedRunsTellTheirCallerWhyAndChangeNothing)
{
    struct Row {
        const char *name;
        std::string arguments;
        std::function<void()> arrange;
        int exitCode;
        std::vector<std::pair<UINT, UINT>> boxes;  // string id and type of every box shown
    } rows[] = {
        { "the list of switches", "/?", nullptr, ERROR_SUCCESS, { { IDS_SWITCHES, MB_ICONINFORMATION } } },
        { "an unknown switch", "/LOG=C:\\setup.log /QUIET", nullptr, ERROR_INVALID_PARAMETER,
          { { IDS_SWITCHES, MB_ICONERROR } } },
        { "an unknown switch, silently", "/QUIET /S", nullptr, ERROR_INVALID_PARAMETER, {} },
        { "a directory too long", "/S /D=C:\\" + std::string(VALUE_CAPACITY, 'x'), nullptr, ERROR_INVALID_PARAMETER,
          {} },
        { "another installation runs", "/LOG=C:\\setup.log",
          [] { CreateMutexA(NULL, FALSE, MUTEX); }, ERROR_INSTALL_ALREADY_RUNNING,
          { { IDS_ALREADY_RUNNING, MB_ICONINFORMATION } } },
        { "another installation runs, silently", "/S /LOG=C:\\setup.log",
          [] { CreateMutexA(NULL, FALSE, MUTEX); }, ERROR_INSTALL_ALREADY_RUNNING, {} },
        { "the log cannot be written", "/LOG=C:\\setup.log",
          [] { sim::FailOpen("setup.log", ERROR_ACCESS_DENIED); }, ERROR_INSTALL_FAILURE,
          { { IDS_CANNOT_WRITE_S, MB_ICONERROR } } },
        { "the log cannot be written, silently", "/S /LOG=C:\\setup.log",
          [] { sim::FailOpen("setup.log", ERROR_ACCESS_DENIED); }, ERROR_INSTALL_FAILURE, {} },
    };
    for (LANGID language : { 1033, 1036 }) {
        for (const Row &row : rows) {
            SCOPED_TRACE(row.name + std::string(language == 1036 ? ", in French" : ""));
            SetUp();
            sim::SetLanguage(language);
            if (row.arrange)
                row.arrange();
            EXPECT_EQ(Run(row.arguments), row.exitCode);
            ASSERT_EQ(sim::MessageBoxes().size(), row.boxes.size());
            for (size_t i = 0; i < row.boxes.size(); i++) {
                EXPECT_EQ(sim::MessageBoxes()[i].text, Text(row.boxes[i].first, LOG));
                EXPECT_EQ(sim::MessageBoxes()[i].type, row.boxes[i].second);
                EXPECT_EQ(sim::MessageBoxes()[i].caption, Text(IDS_CLASS_NAME));
                EXPECT_EQ(sim::MessageBoxes()[i].owner, (HWND)NULL);
            }
            EXPECT_EQ(sim::MainWindowOfClass(Text(IDS_CLASS_NAME)), (HWND)NULL);
            EXPECT_FALSE(sim::GetFile(LOG).has_value());
            EXPECT_TRUE(NothingInstalled());
        }
    }
}

// A log that stops taking lines (a full disk) stops the run there: the caller must not be told
// of an installation whose record is missing.
TEST_F(DeploymentTest, ALogThatFailsMidRunEndsItAtOnce)
{
    sim::FailWrite("setup.log", 400);
    EXPECT_EQ(Run("/LOG=C:\\setup.log"), ERROR_INSTALL_FAILURE);
    ASSERT_FALSE(sim::MessageBoxes().empty());
    EXPECT_EQ(sim::MessageBoxes().back().text, Text(IDS_CANNOT_WRITE_S, LOG));
    for (const sim::MessageBoxRecord &box : sim::MessageBoxes())
        EXPECT_NE(box.text, Text(IDS_REPORT_DONE_S, "Quillet"));
    EXPECT_FALSE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY));
}

TEST_F(DeploymentTest, TheUninstallEntryCarriesWhatInventoryToolsMatchOn)
{
    sim::PutFileVersionInfo(TARGET + "\\Quillet.exe", { { "FileVersion", "2.4.1" }, { "CompanyName", "Quill Works" } });
    EXPECT_EQ(Run(), ERROR_SUCCESS);
    auto text = [](const char *name) {
        std::optional<sim::RegValue> value = sim::RegGet(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, name);
        EXPECT_TRUE(value && value->type == REG_SZ) << name;
        std::string bytes = value ? value->bytes : std::string();
        // Stored, like the system does, with its terminator.
        if (!bytes.empty() && bytes.back() == '\0')
            bytes.pop_back();
        return bytes;
    };
    auto number = [](const char *name) {
        std::optional<sim::RegValue> value = sim::RegGet(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, name);
        EXPECT_TRUE(value && value->type == REG_DWORD && value->bytes.size() == 4) << name;
        DWORD n = 0;
        if (value && value->bytes.size() == 4)
            memcpy(&n, value->bytes.data(), 4);
        return n;
    };
    EXPECT_EQ(text("DisplayVersion"), "2.4.1");
    EXPECT_EQ(text("Publisher"), "Quill Works");
    EXPECT_EQ(text("InstallLocation"), TARGET);
    EXPECT_EQ(text("DisplayIcon"), TARGET + "\\Quillet.exe");
    // 20000 + 9 + 16 + 8192 bytes, in kilobytes rounded up.
    EXPECT_EQ(number("EstimatedSize"), 28u);
    EXPECT_EQ(number("NoModify"), 1u);
    EXPECT_EQ(number("NoRepair"), 1u);
    EXPECT_EQ(sim::LoadedLibraries(), 0);

    // An editor without version information: no version and no publisher, the rest as before.
    SetUp();
    sim::PutFileVersionInfo(TARGET + "\\Quillet.exe", { { "FileVersion", "2.4.1" } });
    EXPECT_EQ(Run(), ERROR_SUCCESS);
    EXPECT_EQ(text("DisplayVersion"), "2.4.1");
    EXPECT_FALSE(sim::RegGet(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "Publisher").has_value());
    SetUp();
    EXPECT_EQ(Run(), ERROR_SUCCESS);
    EXPECT_FALSE(sim::RegGet(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "DisplayVersion").has_value());
    EXPECT_EQ(number("NoRepair"), 1u);
}

}  // namespace
