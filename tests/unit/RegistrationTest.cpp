// The registration step: the nine registry entries byte for byte, the question, the file-types
// dialog and its suffix list, and the quoting of existing commands on No.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "SimFixture.h"
#include "core/InstallState.h"
#include "resources/resource.h"
#include "script/TextHelpers.h"
#include "system/Registration.h"

namespace {

const char APP_PATH[] = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Quillet.exe";
const char UNINSTALL[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillet";
const char OPEN[] = "txtfile\\shell\\open\\command";
const char PRINT[] = "txtfile\\shell\\print\\command";
const char ICON[] = "txtfile\\DefaultIcon";
const std::string EDITOR = "D:\\Program Files\\Quillet\\Quillet.exe";
// The open and print commands quote the path: it has a blank in it.
const std::string COMMAND = "\"" + EDITOR + "\"";

// The text of a value the step wrote, which must be REG_SZ. The step's byte count leaves out the
// terminator; the stand-in, like Wine, then stores the NUL that follows the text all the same, so
// one NUL at the end is taken off and none may remain.
std::optional<std::string> Written(HKEY root, const std::string &path, const std::string &name = "")
{
    auto value = sim::RegGet(root, path, name);
    if (!value)
        return std::nullopt;
    EXPECT_EQ(value->type, (DWORD)REG_SZ) << path;
    std::string text = value->bytes;
    if (!text.empty() && text.back() == '\0')
        text.pop_back();
    EXPECT_EQ(text.find('\0'), std::string::npos) << path << " holds a NUL";
    return text;
}

class RegistrationTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        State = InstallState();
        State.Instance = sim::Instance();
        LoadStringA(State.Instance, IDS_CLASS_NAME, State.ClassName, NAME_CAPACITY);
        LoadStringA(State.Instance, IDS_REGISTRATION_SECTION, State.RegistrationSection, NAME_CAPACITY);
        LoadStringA(State.Instance, IDS_SUFFIXES_KEY, State.SuffixesKey, NAME_CAPACITY);
        CopyString(State.ApplicationName, VALUE_CAPACITY, "Quillet");
        CopyString(State.CaptionText, VALUE_CAPACITY, "Quillet setup");
        CopyString(State.TargetDirectory, VALUE_CAPACITY, "D:\\Program Files\\Quillet");
        sim::SetWindowsDirectory("D:\\WINDOWS");

        window = MakeTestWindow();
        ASSERT_NE(window, nullptr);
        State.MainWindow = window;

        answer = IDYES;
        onDialog = nullptr;
        dialogs = 0;
        shownSuffixes.clear();
    }

    void TearDown() override
    {
        EXPECT_EQ(sim::OpenRegistryKeys(), 0);
        SimTest::TearDown();
    }

    // Runs the step with `text` as the script; the user answers the question with `answer`, the
    // file-types dialog through `onDialog`, and OK to the final report.
    void Run(const std::string &text = "[Install]\r\nApplication=Quillet\r\n")
    {
        script = text;
        State.InstallScript = &script[0];
        sim::User user;
        user.onMessageBox = [this](const sim::MessageBoxRecord &box) {
            return (box.type & MB_TYPEMASK) == MB_YESNO ? answer : IDOK;
        };
        user.onDialog = [this](HWND dialog, const std::string &name) {
            EXPECT_STRCASEEQ(name.c_str(), "Registration");
            dialogs++;
            shownSuffixes = sim::ControlText(dialog, IDC_REGISTRATION_SUFFIXES);
            if (!onDialog)
                FAIL() << "unexpected file-types dialog";
            onDialog(dialog);
        };
        sim::SetUser(user);
        RegisterApplication(window);

        // Every path ends in the final report, shown within the same call; nothing is posted.
        ASSERT_FALSE(sim::MessageBoxes().empty());
        EXPECT_EQ(sim::MessageBoxes().back().text.rfind("Installation normally terminated", 0), 0u);
        for (const auto &entry : sim::Trace()) {
            if (entry.kind == sim::TraceEntry::Post)
                EXPECT_FALSE(entry.message >= WM_INSTALL_START && entry.message <= WM_FINISH)
                    << "step " << entry.message << " posted";
        }
    }

    static std::function<void(HWND)> Press(int button, const std::string &typed = "", bool type = false)
    {
        return [=](HWND dialog) {
            if (type)
                sim::TypeText(dialog, IDC_REGISTRATION_SUFFIXES, typed);
            sim::PressButton(dialog, button);
        };
    }

    HWND window = nullptr;
    std::string script;
    int answer = IDYES;
    std::function<void(HWND)> onDialog;
    int dialogs = 0;
    std::string shownSuffixes;
};

TEST_F(RegistrationTest, NoStillWritesTheApplicationPathAndUninstallEntry)
{
    answer = IDNO;
    Run();

    EXPECT_EQ(Written(HKEY_LOCAL_MACHINE, APP_PATH), EDITOR);
    EXPECT_EQ(Written(HKEY_LOCAL_MACHINE, UNINSTALL, "DisplayName"), "Quillet");
    EXPECT_EQ(Written(HKEY_LOCAL_MACHINE, UNINSTALL, "UninstallString"),
              "D:\\WINDOWS\\Unquil.exe /D:\\Program Files\\Quillet");
    EXPECT_FALSE(sim::RegKeyExists(HKEY_CLASSES_ROOT, "txtfile"));

    ASSERT_EQ(sim::MessageBoxes().size(), 2u);
    const sim::MessageBoxRecord &question = sim::MessageBoxes()[0];
    EXPECT_EQ(question.text, ResourceText(IDS_REGISTER_QUESTION));
    EXPECT_EQ(question.caption, "Quillet setup");
    EXPECT_EQ(question.owner, window);
    EXPECT_EQ(question.type, (UINT)(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(dialogs, 0);
}

TEST_F(RegistrationTest, TheUninstallEntryTakesTheWindowsDirectoryAsItComes)
{
    sim::SetWindowsDirectory("C:\\");
    CopyString(State.ApplicationName, VALUE_CAPACITY, "My 100% Editor");
    answer = IDNO;
    Run();
    const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\My 100% Editor";
    EXPECT_EQ(Written(HKEY_LOCAL_MACHINE, key, "DisplayName"), "My 100% Editor");
    EXPECT_EQ(Written(HKEY_LOCAL_MACHINE, key, "UninstallString"), "C:\\\\Unquil.exe /D:\\Program Files\\Quillet");
}

TEST_F(RegistrationTest, YesWithoutRegistrationSectionWritesTheFileTypeAndShowsNoDialog)
{
    Run("[Install]\r\nApplication=Quillet\r\n; [Registration]\r\nSuffixes=txt\r\n");

    EXPECT_EQ(Written(HKEY_LOCAL_MACHINE, APP_PATH), EDITOR);
    EXPECT_EQ(Written(HKEY_CLASSES_ROOT, ICON), EDITOR + ",0");
    EXPECT_EQ(Written(HKEY_CLASSES_ROOT, OPEN), COMMAND + " \"%1\"");
    EXPECT_EQ(Written(HKEY_CLASSES_ROOT, PRINT), COMMAND + " /p \"%1\"");
    EXPECT_EQ(dialogs, 0);
    EXPECT_FALSE(sim::RegKeyExists(HKEY_CLASSES_ROOT, ".txt"));
    EXPECT_EQ(sim::MessageBoxes().size(), 2u);
}

// The longest directory the script or the dialog can give still ends in a whole quoted command.
TEST_F(RegistrationTest, TheLongestTargetDirectoryKeepsTheCommandsWhole)
{
    const std::string directory = "D:\\" + std::string(124, 'q');
    CopyString(State.TargetDirectory, VALUE_CAPACITY, directory.c_str());
    Run();
    EXPECT_EQ(Written(HKEY_CLASSES_ROOT, OPEN), "\"" + directory + "\\Quillet.exe\" \"%1\"");
    EXPECT_EQ(Written(HKEY_CLASSES_ROOT, PRINT), "\"" + directory + "\\Quillet.exe\" /p \"%1\"");
}

TEST_F(RegistrationTest, TheDialogShowsTheLastSuffixesLineOfTheSection)
{
    struct Row {
        const char *name;
        std::string body;
        std::string shown;
    } rows[] = {
        { "plain", "Suffixes=txt log\r\n", "txt log" },
        { "no Suffixes line", "Other=1\r\n", "" },
        { "blank in front", " Suffixes=txt\r\n", "" },
        { "other letter case", "suffixes=txt\r\n", "" },
        { "longer key", "SuffixesOld=doc\r\n", "doc" },
        { "last wins", "Suffixes=a\r\nSuffixes=b\r\n", "b" },
        { "empty and comment lines do not stop the walk", "Suffixes=a\r\n\r\n; note\r\nSuffixes=b\r\n", "b" },
        { "the next section stops it", "Suffixes=a\r\n[Other]\r\nSuffixes=b\r\n", "a" },
        { "the key alone empties the list", "Suffixes=a\r\nSuffixes\r\n", "" },
        { "cut to 127", "Suffixes=" + std::string(200, 's') + "\r\n", std::string(127, 's') },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        onDialog = Press(IDC_REGISTRATION_NO);
        Run("[Registration]\r\n" + row.body);
        EXPECT_EQ(dialogs, 1);
        EXPECT_EQ(shownSuffixes, row.shown);
        EXPECT_EQ(std::string(State.SuffixList), row.shown);
    }
}

TEST_F(RegistrationTest, TheDialogIsSetUpFromTheState)
{
    HWND seen = nullptr;
    onDialog = [&](HWND dialog) {
        seen = dialog;
        EXPECT_EQ(sim::WindowText(dialog), "Quillet setup");
        EXPECT_EQ(sim::EditLimit(dialog, IDC_REGISTRATION_SUFFIXES), 128);
        EXPECT_EQ(sim::WindowOwner(dialog), window);
        RECT owner = sim::WindowRect(window), box = sim::WindowRect(dialog);
        EXPECT_NEAR((box.left + box.right) / 2, (owner.left + owner.right) / 2, 1);
        EXPECT_NEAR((box.top + box.bottom) / 2, (owner.top + owner.bottom) / 2, 1);
        sim::PressButton(dialog, IDC_REGISTRATION_NO);
    };
    Run("[Registration]\r\nSuffixes=txt\r\n");
    EXPECT_NE(seen, nullptr);
}

TEST_F(RegistrationTest, ConfirmedSuffixesAreRegisteredInListOrder)
{
    struct Row {
        const char *name;
        std::string scriptList;
        bool type;
        std::string typed;
        std::vector<std::string> keys;
    } rows[] = {
        { "as the script gives them", "txt log", false, "", { ".txt", ".log" } },
        { "blanks and tabs between and after", "txt  log\tini ", false, "", { ".txt", ".log", ".ini" } },
        { "leading blanks", "  \tdoc", false, "", { ".doc" } },
        { "blanks only", "   \t ", false, "", {} },
        { "a dot typed with the suffix", "", true, ".txt", { "..txt" } },
        { "typed into an empty field", "", true, "md  rst", { ".md", ".rst" } },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        onDialog = Press(IDC_REGISTRATION_YES, row.typed, row.type);
        Run("[Registration]\r\n" + (row.scriptList.empty() ? std::string() : "Suffixes=" + row.scriptList + "\r\n"));
        EXPECT_EQ(dialogs, 1);
        for (const std::string &key : row.keys)
            EXPECT_EQ(Written(HKEY_CLASSES_ROOT, key), "txtfile") << key;
        // Nothing for the separators themselves.
        EXPECT_FALSE(sim::RegKeyExists(HKEY_CLASSES_ROOT, "."));
        EXPECT_FALSE(sim::RegKeyExists(HKEY_CLASSES_ROOT, ". "));
        EXPECT_EQ(Written(HKEY_CLASSES_ROOT, OPEN), COMMAND + " \"%1\"");
    }
}

TEST_F(RegistrationTest, LeavingTheDialogOtherwiseRegistersNothing)
{
    struct Row {
        const char *name;
        std::function<void(HWND)> act;
    } rows[] = {
        { "No", Press(IDC_REGISTRATION_NO, "doc", true) },
        { "Escape", [](HWND dialog) {
              sim::TypeText(dialog, IDC_REGISTRATION_SUFFIXES, "doc");
              sim::PressKey(dialog, VK_ESCAPE);
          } },
        { "close box", [](HWND dialog) {
              sim::TypeText(dialog, IDC_REGISTRATION_SUFFIXES, "doc");
              sim::ClickCloseBox(dialog);
          } },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        onDialog = row.act;
        Run("[Registration]\r\nSuffixes=txt log\r\n");
        EXPECT_EQ(dialogs, 1);
        EXPECT_STREQ(State.SuffixList, "txt log");
        EXPECT_FALSE(sim::RegKeyExists(HKEY_CLASSES_ROOT, ".txt"));
        EXPECT_FALSE(sim::RegKeyExists(HKEY_CLASSES_ROOT, ".doc"));
    }
}

TEST_F(RegistrationTest, AFullEditFieldIsReadBackAsItsFirst127Characters)
{
    std::string typed = std::string(127, 'a') + "b";
    onDialog = Press(IDC_REGISTRATION_YES, typed, true);
    Run("[Registration]\r\n");
    EXPECT_EQ(std::string(State.SuffixList), std::string(127, 'a'));
    EXPECT_EQ(Written(HKEY_CLASSES_ROOT, "." + std::string(127, 'a')), "txtfile");
}

TEST_F(RegistrationTest, NoQuotesTheArgumentOfTheExistingCommands)
{
    struct Row {
        const char *name;
        // Stored without a terminator: a rewrite of the same text would gain the one the stand-in
        // adds, so an untouched value is told from one written back unchanged.
        std::optional<std::string> stored;
        std::optional<std::string> written;  // none: left as it was
    } rows[] = {
        { "bare %1", "notepad.exe %1", "notepad.exe \"%1\"" },
        { "only %1", "%1", "\"%1\"" },
        { "already quoted", "notepad.exe \"%1\"", std::nullopt },
        { "ends otherwise", "notepad.exe", std::nullopt },
        { "one character", "1", std::nullopt },
        { "empty", "", std::nullopt },
        { "missing", std::nullopt, std::nullopt },
        { "258 characters", std::string(256, 'n') + "%1", std::string(256, 'n') + "\"%1\"" },
        { "259 characters", std::string(257, 'n') + "%1", std::string(257, 'n') + "\"%1\"" },
        { "too long to read", std::string(258, 'n') + "%1", std::nullopt },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        answer = IDNO;
        if (row.stored) {
            sim::RegPutString(HKEY_CLASSES_ROOT, OPEN, "", *row.stored, false);
            sim::RegPutString(HKEY_CLASSES_ROOT, PRINT, "", *row.stored, false);
        }
        Run();
        for (const char *path : { OPEN, PRINT }) {
            SCOPED_TRACE(path);
            auto value = sim::RegGet(HKEY_CLASSES_ROOT, path, "");
            if (!row.stored) {
                EXPECT_FALSE(value.has_value());
            } else if (!row.written) {
                ASSERT_TRUE(value.has_value());
                EXPECT_EQ(value->bytes, *row.stored);
            } else {
                EXPECT_EQ(Written(HKEY_CLASSES_ROOT, path), *row.written);
            }
        }
    }
}

TEST_F(RegistrationTest, NoTreatsTheOpenAndPrintCommandsEachOnItsOwn)
{
    answer = IDNO;
    sim::RegPutString(HKEY_CLASSES_ROOT, OPEN, "", "C:\\edit.exe %1");
    sim::RegPutString(HKEY_CLASSES_ROOT, PRINT, "", "C:\\print.exe /p %1", false);
    Run();
    EXPECT_EQ(Written(HKEY_CLASSES_ROOT, OPEN), "C:\\edit.exe \"%1\"");
    EXPECT_EQ(Written(HKEY_CLASSES_ROOT, PRINT), "C:\\print.exe /p \"%1\"");

    SetUp();
    answer = IDNO;
    sim::RegPutString(HKEY_CLASSES_ROOT, PRINT, "", "print.exe %1");
    Run();
    EXPECT_FALSE(sim::RegGet(HKEY_CLASSES_ROOT, OPEN, "").has_value());
    EXPECT_EQ(Written(HKEY_CLASSES_ROOT, PRINT), "print.exe \"%1\"");
}

TEST_F(RegistrationTest, RefusedWritesAreSkippedSilently)
{
    sim::FailRegistryWrite("App Paths");
    sim::FailRegistryWrite("DefaultIcon");
    sim::FailRegistryWrite("\\.log");
    onDialog = Press(IDC_REGISTRATION_YES);
    Run("[Registration]\r\nSuffixes=txt log ini\r\n");

    EXPECT_FALSE(sim::RegGet(HKEY_LOCAL_MACHINE, APP_PATH, "").has_value());
    EXPECT_FALSE(sim::RegGet(HKEY_CLASSES_ROOT, ICON, "").has_value());
    EXPECT_FALSE(sim::RegGet(HKEY_CLASSES_ROOT, ".log", "").has_value());
    EXPECT_EQ(Written(HKEY_LOCAL_MACHINE, UNINSTALL, "DisplayName"), "Quillet");
    EXPECT_EQ(Written(HKEY_CLASSES_ROOT, OPEN), COMMAND + " \"%1\"");
    EXPECT_EQ(Written(HKEY_CLASSES_ROOT, PRINT), COMMAND + " /p \"%1\"");
    EXPECT_EQ(Written(HKEY_CLASSES_ROOT, ".txt"), "txtfile");
    EXPECT_EQ(Written(HKEY_CLASSES_ROOT, ".ini"), "txtfile");
    // No message but the question and the report, and the report is the clean one.
    EXPECT_EQ(sim::MessageBoxes().size(), 2u);
    EXPECT_EQ(State.FailureCount, 0);
}

}  // namespace
