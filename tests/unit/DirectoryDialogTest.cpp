// The directory dialog driven by a scripted user: what it proposes and shows, how every typed
// form becomes TargetDirectory, how it ends; and CenterWindow's placement rules.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "SimFixture.h"
#include "core/InstallState.h"
#include "resources/resource.h"
#include "script/TextHelpers.h"
#include "ui/DirectoryDialog.h"

namespace {

const char VERSION_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const char PROGRAM_FILES[] = "ProgramFilesDir";

// What the user sees once the dialog waits for input.
struct Seen {
    std::string title, prompt, edit, size;
    int limit = 0;
    RECT rect{};
};

class DirectoryDialogTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        Prepare();
    }

    // The state start-up leaves, in the current language, and the full-screen main window.
    void Prepare()
    {
        memset(&State, 0, sizeof State);
        State.Instance = sim::Instance();
        LoadStringA(State.Instance, IDS_DIRECTORY_PROMPT, State.DirectoryPrompt, VALUE_CAPACITY);
        LoadStringA(State.Instance, IDS_SIZE_FORMAT_LD, State.SizeFormat, VALUE_CAPACITY);
        CopyString(State.CaptionText, VALUE_CAPACITY, "Quillet 2.1 Setup");
        CopyString(State.ApplicationName, VALUE_CAPACITY, "Quillet");
        CopyString(State.TargetDirectory, VALUE_CAPACITY, "C:\\QUILLET");
        owner_ = MakeTestWindow(WS_OVERLAPPEDWINDOW, 0, 0, 1024, 768);
        ASSERT_NE(owner_, (HWND)NULL);
    }

    void Renew()
    {
        sim::Reset(sim::Sandbox());
        Prepare();
    }

    // Runs the dialog; `act` is what the user does the first time it waits.
    INT_PTR Run(std::function<void(HWND)> act, HWND owner)
    {
        bool first = true;
        sim::User user;
        user.onDialog = [&](HWND dialog, const std::string &) {
            if (first) {
                seen_.title = sim::WindowText(dialog);
                seen_.prompt = sim::ControlText(dialog, IDC_DIRECTORY_PROMPT);
                seen_.edit = sim::ControlText(dialog, IDC_DIRECTORY_EDIT);
                seen_.size = sim::ControlText(dialog, IDC_DIRECTORY_SIZE);
                seen_.limit = sim::EditLimit(dialog, IDC_DIRECTORY_EDIT);
                seen_.rect = sim::WindowRect(dialog);
                first = false;
                act(dialog);
            } else {
                ADD_FAILURE() << "the dialog did not end on the user's action";
                sim::PressButton(dialog, IDC_DIRECTORY_CANCEL);
            }
        };
        sim::SetUser(user);
        return RunDirectoryDialog(owner);
    }
    INT_PTR Run(std::function<void(HWND)> act) { return Run(act, owner_); }

    INT_PTR Cancel()
    {
        return Run([](HWND dialog) { sim::PressButton(dialog, IDC_DIRECTORY_CANCEL); });
    }

    INT_PTR Install(const std::string &typed)
    {
        return Run([&typed](HWND dialog) {
            sim::TypeText(dialog, IDC_DIRECTORY_EDIT, typed);
            sim::PressButton(dialog, IDC_DIRECTORY_INSTALL);
        });
    }

    HWND owner_ = NULL;
    Seen seen_;
};

TEST_F(DirectoryDialogTest, TypedTextBecomesAnAbsolutePath)
{
    const std::string longCurrent = "C:\\" + std::string(200, 'c');
    struct Row {
        const char *name;
        std::string current, typed, target;
    } rows[] = {
        { "drive alone", "C:\\DIST", "D:", "D:\\" },
        { "drive-relative", "C:\\DIST", "d:apps", "d:\\apps" },
        { "drive path", "C:\\DIST", "D:\\apps", "D:\\apps" },
        { "root of the current drive", "C:\\DIST", "\\apps", "C:\\apps" },
        { "root of another current drive", "e:\\setup", "\\apps", "E:\\apps" },
        // A network path is absolute already: a drive letter in front would make it a local folder.
        { "network path", "C:\\DIST", "\\\\server\\share\\x", "\\\\server\\share\\x" },
        { "relative", "C:\\DIST", "apps", "C:\\DIST\\apps" },
        { "empty", "C:\\DIST", "", "C:\\DIST\\" },
        { "current directory at a root", "C:\\", "apps", "C:\\apps" },
        { "nothing trimmed or changed", "C:\\DIST", " My Apps\\ ", "C:\\DIST\\ My Apps\\ " },
        { "300 characters", "C:\\DIST", "D:\\" + std::string(297, 'x'), "D:\\" + std::string(124, 'x') },
        { "relative, cut", "C:\\DIST", std::string(200, 'r'), "C:\\DIST\\" + std::string(119, 'r') },
        // On a share there is no drive letter: the share's own root takes its place.
        { "root on a share", "\\\\server\\share\\setup", "\\apps", "\\\\server\\share\\apps" },
        { "root at the share itself", "\\\\server\\share", "\\apps", "\\\\server\\share\\apps" },
        { "relative on a share", "\\\\server\\share\\setup", "apps", "\\\\server\\share\\setup\\apps" },
        // A current directory longer than TargetDirectory is read whole, then cut.
        { "long current directory", longCurrent, "apps", longCurrent.substr(0, 127) },
        // One that no path buffer holds leaves the text relative to it.
        { "unreadable current directory", "C:\\" + std::string(300, 'c'), "apps", "apps" },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Renew();
        sim::SetCurrentDirectory(row.current);
        EXPECT_EQ(Install(row.typed), IDC_DIRECTORY_INSTALL);
        EXPECT_EQ(std::string(State.TargetDirectory), row.target);
    }
}

TEST_F(DirectoryDialogTest, ProposesProgramFilesWithTheApplicationsName)
{
    struct Row {
        const char *name;
        void (*arrange)();
        const char *application;
        std::string proposal;
    } rows[] = {
        { "registry value", [] { sim::RegPutString(HKEY_LOCAL_MACHINE, VERSION_KEY, PROGRAM_FILES, "C:\\Program Files"); },
          "Quillet", "C:\\Program Files\\Quillet" },
        { "value without terminator",
          [] { sim::RegPutString(HKEY_LOCAL_MACHINE, VERSION_KEY, PROGRAM_FILES, "C:\\Programme", false); }, "Quillet",
          "C:\\Programme\\Quillet" },
        { "value ending in a backslash", [] { sim::RegPutString(HKEY_LOCAL_MACHINE, VERSION_KEY, PROGRAM_FILES, "D:\\Apps\\"); },
          "Quillet", "D:\\Apps\\\\Quillet" },
        { "no application name", [] { sim::RegPutString(HKEY_LOCAL_MACHINE, VERSION_KEY, PROGRAM_FILES, "C:\\Program Files"); },
          "", "C:\\Program Files\\" },
        { "long application name", [] { sim::RegPutString(HKEY_LOCAL_MACHINE, VERSION_KEY, PROGRAM_FILES, "C:\\Program Files"); },
          "Quillet Editor For Everyone Who Writes Plain Text And Wants Nothing More Than That, Made By People Who Agree",
          std::string("C:\\Program Files\\Quillet Editor For Everyone Who Writes Plain Text And Wants Nothing More Than That, Made By People Who Agree")
              .substr(0, 127) },
        { "no value", [] { sim::RegPutString(HKEY_LOCAL_MACHINE, VERSION_KEY, "CommonFilesDir", "C:\\Common"); }, "Quillet",
          "C:\\QUILLET" },
        { "no key", [] {}, "Quillet", "C:\\QUILLET" },
        { "value too long for the proposal",
          [] { sim::RegPutString(HKEY_LOCAL_MACHINE, VERSION_KEY, PROGRAM_FILES, "C:\\" + std::string(130, 'p')); },
          "Quillet", "C:\\QUILLET" },
        { "key refused", [] {
              sim::RegPutString(HKEY_LOCAL_MACHINE, VERSION_KEY, PROGRAM_FILES, "C:\\Program Files");
              sim::FailRegistryOpen("CurrentVersion");
          }, "Quillet", "C:\\QUILLET" },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Renew();
        row.arrange();
        CopyString(State.ApplicationName, VALUE_CAPACITY, row.application);
        EXPECT_EQ(Cancel(), IDC_DIRECTORY_CANCEL);
        EXPECT_EQ(seen_.edit, row.proposal);
        // Cancelling keeps the proposal.
        EXPECT_EQ(std::string(State.TargetDirectory), row.proposal);
        EXPECT_EQ(sim::OpenRegistryKeys(), 0);
    }
}

TEST_F(DirectoryDialogTest, WithoutTheRegistryValueAnEmptyDirectoryStaysEmpty)
{
    State.TargetDirectory[0] = '\0';
    EXPECT_EQ(Cancel(), IDC_DIRECTORY_CANCEL);
    EXPECT_EQ(seen_.edit, "");
}

TEST_F(DirectoryDialogTest, ShowsTheKilobytesNeededRoundedUp)
{
    struct Row {
        int totalBytes;
        const char *kilobytes;
    } rows[] = {
        { 0, "0" }, { 1, "1" }, { 1024, "1" }, { 1025, "2" }, { 2047 * 1024 + 1, "2048" }, { 2147483647, "2097152" },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.totalBytes);
        Renew();
        State.TotalBytes = row.totalBytes;
        Cancel();
        EXPECT_EQ(seen_.size, std::string("This installation requires ") + row.kilobytes + " Kb.");
    }
}

TEST_F(DirectoryDialogTest, ShowsTheScriptsCaptionAndTheResourceTexts)
{
    struct Row {
        LANGID language;
        const char *prompt, *size;
    } rows[] = {
        { 1033, "Install Quillet to directory:", "This installation requires 3 Kb." },
        { 1036, "Installer Quillet dans le r\xE9pertoire:", "Cette installation requiert 3 Kb." },
        { 1040, "Installa Quillet nella directory:", "Questa installazione richiede 3 Kb." },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.language);
        sim::Reset(sim::Sandbox());
        sim::SetLanguage(row.language);
        Prepare();
        State.TotalBytes = 3000;
        Cancel();
        EXPECT_EQ(seen_.title, "Quillet 2.1 Setup");
        EXPECT_EQ(seen_.prompt, row.prompt);
        EXPECT_EQ(seen_.size, row.size);
        EXPECT_EQ(seen_.limit, 260);
    }
}

TEST_F(DirectoryDialogTest, EveryWayOutButInstallCancels)
{
    struct Row {
        const char *name;
        std::function<void(HWND)> act;
        INT_PTR result;
    } rows[] = {
        { "Cancel button", [](HWND dialog) { sim::PressButton(dialog, IDC_DIRECTORY_CANCEL); }, IDC_DIRECTORY_CANCEL },
        { "Escape", [](HWND dialog) { sim::PressKey(dialog, VK_ESCAPE); }, IDC_DIRECTORY_CANCEL },
        { "close box", [](HWND dialog) { sim::ClickCloseBox(dialog); }, IDC_DIRECTORY_CANCEL },
        { "Enter in the edit field", [](HWND dialog) { sim::PressKey(dialog, VK_RETURN); }, IDC_DIRECTORY_INSTALL },
        { "Install button", [](HWND dialog) { sim::PressButton(dialog, IDC_DIRECTORY_INSTALL); }, IDC_DIRECTORY_INSTALL },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Renew();
        EXPECT_EQ(Run([&row](HWND dialog) {
                      sim::TypeText(dialog, IDC_DIRECTORY_EDIT, "\\Typed");
                      row.act(dialog);
                  }),
                  row.result);
        EXPECT_EQ(std::string(State.TargetDirectory), row.result == IDC_DIRECTORY_INSTALL ? "C:\\Typed" : "C:\\QUILLET");
        EXPECT_TRUE(IsWindowEnabled(owner_));
    }
}

TEST_F(DirectoryDialogTest, OnlyItsOwnCommandsAreHandled)
{
    INT_PTR result = Run([](HWND dialog) {
        EXPECT_FALSE(DirectoryDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0));
        EXPECT_FALSE(DirectoryDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_DIRECTORY_SIZE, 0), 0));
        EXPECT_FALSE(DirectoryDialogProc(dialog, WM_TIMER, 1, 0));
        EXPECT_TRUE(IsWindow(dialog));
        // The notification code in the high word is not looked at.
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_DIRECTORY_CANCEL, 0x0300), 0);
    });
    EXPECT_EQ(result, IDC_DIRECTORY_CANCEL);
}

TEST_F(DirectoryDialogTest, SitsInTheMiddleOfItsOwnerOrOfTheScreen)
{
    Cancel();
    int width = seen_.rect.right - seen_.rect.left;
    int height = seen_.rect.bottom - seen_.rect.top;
    EXPECT_EQ(seen_.rect.left, (1024 - width) / 2);
    EXPECT_EQ(seen_.rect.top, (768 - height) / 2);

    Renew();
    HWND small = MakeTestWindow(WS_POPUP, 100, 50, 400, 300);
    Run([](HWND dialog) { sim::PressButton(dialog, IDC_DIRECTORY_CANCEL); }, small);
    EXPECT_EQ(seen_.rect.left, 100 + (400 - width) / 2);
    EXPECT_EQ(seen_.rect.top, 50 + (300 - height) / 2);

    Renew();
    Run([](HWND dialog) { sim::PressButton(dialog, IDC_DIRECTORY_CANCEL); }, NULL);
    EXPECT_EQ(seen_.rect.left, (1024 - width) / 2);
    EXPECT_EQ(seen_.rect.top, (768 - height) / 2);
}

class CenterWindowTest : public SimTest {};

TEST_F(CenterWindowTest, CentresThenKeepsTheRightAndBottomEdgesOnTheScreen)
{
    struct Row {
        const char *name;
        RECT reference;
        int width, height;
        int x, y;
    } rows[] = {
        { "centred", { 0, 0, 1024, 768 }, 200, 100, 412, 334 },
        // (100 - 201) / 2 truncates to -50, not -51.
        { "division truncates toward zero", { 100, 100, 200, 200 }, 201, 201, 50, 50 },
        { "wider than the screen", { 0, 0, 1024, 768 }, 1100, 100, -76, 334 },
        { "taller than the screen", { 0, 0, 1024, 768 }, 200, 800, 412, -32 },
        { "left of the screen", { -400, -300, 0, 100 }, 200, 100, 0, 0 },
        { "past the right and bottom edges", { 900, 700, 1200, 900 }, 200, 100, 824, 668 },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        HWND reference = MakeTestWindow(WS_POPUP, row.reference.left, row.reference.top, row.reference.right - row.reference.left,
                                    row.reference.bottom - row.reference.top);
        HWND window = MakeTestWindow(WS_POPUP, 5, 7, row.width, row.height);
        CenterWindow(reference, window);
        RECT moved = sim::WindowRect(window);
        EXPECT_EQ(moved.left, row.x);
        EXPECT_EQ(moved.top, row.y);
        EXPECT_EQ(moved.right - moved.left, row.width);
        EXPECT_EQ(moved.bottom - moved.top, row.height);
        DestroyWindow(reference);
        DestroyWindow(window);
    }
}

TEST_F(CenterWindowTest, UsesTheScreenSize)
{
    sim::SetScreenSize(800, 600);
    HWND reference = MakeTestWindow(WS_POPUP, 0, 0, 1024, 768);
    HWND window = MakeTestWindow(WS_POPUP, 0, 0, 600, 500);
    CenterWindow(reference, window);
    // Centred over the reference at (212, 134), then pulled back onto the smaller screen.
    EXPECT_EQ(sim::WindowRect(window).left, 200);
    EXPECT_EQ(sim::WindowRect(window).top, 100);
    CenterWindow(NULL, window);
    EXPECT_EQ(sim::WindowRect(window).left, 100);
    EXPECT_EQ(sim::WindowRect(window).top, 50);
}

}  // namespace
