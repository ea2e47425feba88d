// The copy engine's two steps, driven through a test main window the way the sequencer drives
// them: paths, chunks, steps and notifications on disks of several speeds, the copy written beside
// its destination, the prompt, read and write errors, cancelling, what a run ended by force leaves,
// and the sizes that must never wrap.
#include <gtest/gtest.h>

#include <limits.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "SimFixture.h"
#include "core/CopyEngine.h"
#include "core/InstallState.h"
#include "resources/resource.h"
#include "script/ScriptReader.h"
#include "script/TextHelpers.h"
#include "ui/CopyDialog.h"

namespace {

const char MAIN_CLASS[] = "CopyEngineTestMain";
const char RECORDER_CLASS[] = "CopyEngineTestRecorder";
const char TARGET[] = "C:\\Program Files\\Quillet";
const COLORREF BLUE = 0x00FF0000;
const COLORREF GREY = 0x00C0C0C0;
const int MAX_STEPS = 10000;
// A read or a write that takes this long makes every copy step one chunk long.
const DWORD ONE_CHUNK_A_STEP_MICROSECONDS = 10000;

// WM_COPY_DONE or WM_FINISH once the chain has reached one of them.
UINT EndMessage;

LRESULT CALLBACK TestMainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COPY_NEXT_FILE:
        CopyNextFile(window);
        return 0;
    case WM_COPY_CHUNK:
        CopyChunk(window);
        return 0;
    case WM_COPY_DONE:
    case WM_FINISH:
        EndMessage = message;
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

// What the copy dialog would read when a notification arrives.
struct Notification {
    WPARAM id;
    int done, total, copied;
    std::string value;
};
std::vector<Notification> Notifications;

LRESULT CALLBACK RecorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND) {
        Notifications.push_back({ wParam, State.FileBytesDone, State.FileBytesTotal, State.CopiedBytes, State.EntryValue });
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

std::string Bytes(size_t count, unsigned seed = 1)
{
    std::string bytes(count, '\0');
    for (size_t i = 0; i < count; i++)
        bytes[i] = (char)((i * 31 + seed * 7 + i / 251) & 0xFF);
    return bytes;
}

// "C:\www...\www..." of exactly `length` characters, in folders short enough for any file system.
std::string LongDirectory(size_t length)
{
    std::string path = "C:";
    while (path.size() < length) {
        size_t room = length - path.size() - 1;
        path += "\\" + std::string(room < 40 ? room : 40, 'w');
        if (path.back() == '\\')
            path.back() = 'w';
    }
    return path;
}

bool SameTime(const FILETIME &a, const FILETIME &b)
{
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

const FILETIME OLD_TIME = { 0x44444444, 0x01B00000 };

// An earlier version of a destination, with a time of its own.
void PutOldFile(const std::string &path, const std::string &bytes)
{
    sim::PutFile(path, bytes);
    sim::PutFileTimes(path, OLD_TIME, OLD_TIME, OLD_TIME);
}

bool HasOldTime(const std::string &path)
{
    FILETIME creation, access, write;
    return sim::GetFileTimes(path, &creation, &access, &write) && SameTime(write, OLD_TIME) &&
           SameTime(creation, OLD_TIME);
}

class CopyEngineTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        memset(&State, 0, sizeof State);
        EndMessage = 0;
        Notifications.clear();
        State.Instance = sim::Instance();
        LoadStringA(State.Instance, IDS_CLASS_NAME, State.ClassName, NAME_CAPACITY);
        LoadStringA(State.Instance, IDS_FILES_SECTION, State.FilesSection, NAME_CAPACITY);
        CopyString(State.CaptionText, VALUE_CAPACITY, "Quillet Setup");
        CopyString(State.TargetDirectory, VALUE_CAPACITY, TARGET);
        State.FillBrush = CreateSolidBrush(BLUE);
        State.BandBrush = CreateSolidBrush(GREY);

        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = TestMainProc;
        windowClass.hInstance = State.Instance;
        windowClass.lpszClassName = MAIN_CLASS;
        RegisterClassA(&windowClass);
        windowClass.lpfnWndProc = RecorderProc;
        windowClass.lpszClassName = RECORDER_CLASS;
        RegisterClassA(&windowClass);
        State.MainWindow = CreateWindowExA(0, MAIN_CLASS, "", WS_OVERLAPPEDWINDOW, 0, 0, 1024, 768, NULL, NULL,
                                           State.Instance, NULL);
        ASSERT_NE(State.MainWindow, (HWND)NULL);
        // Most tests look at what the dialog is told; those about the real dialog replace this.
        State.CopyDialog = CreateWindowExA(0, RECORDER_CLASS, "", WS_POPUP, 0, 0, 10, 10, State.MainWindow, NULL,
                                           State.Instance, NULL);
    }

    void TearDown() override
    {
        // Whatever happened, no file of an entry stays open.
        EXPECT_EQ(sim::OpenFileHandles(), 0);
        EXPECT_TRUE(State.SourceHandle == NULL || State.SourceHandle == INVALID_HANDLE_VALUE);
        EXPECT_TRUE(State.DestinationHandle == NULL || State.DestinationHandle == INVALID_HANDLE_VALUE);
        EXPECT_EQ(sim::LiveDeviceContexts(), 0);
        if (State.ScriptHandle != NULL) {
            GlobalUnlock(State.ScriptHandle);
            GlobalFree(State.ScriptHandle);
        }
        memset(&State, 0, sizeof State);
        SimTest::TearDown();
    }

    // A fresh world and state for the next row of a table.
    void StartOver()
    {
        TearDown();
        SetUp();
    }

    // The installer's own directory as start-up finds it, from the module path.
    void FindProgramDirectory()
    {
        GetModuleFileNameA(NULL, State.SourcePath, PATH_CAPACITY);
        SplitPath(State.SourcePath, &State.DriveLength, &State.FileNameOffset, &State.DotOffset);
    }

    std::string ProgramDirectory() const { return std::string(State.SourcePath, State.FileNameOffset); }

    // Writes a script with these [Files] lines beside the installer, loads it as start-up does,
    // and posts the first step as the sequencer does.
    void StartCopy(const std::string &filesLines)
    {
        FindProgramDirectory();
        std::string scriptPath = ProgramDirectory() + "SETUP.inf";
        sim::PutFile(scriptPath, "[Install]\r\nCaption=Quillet\r\n[Files]\r\n" + filesLines + "[Group]\r\nX=y\r\n");
        ASSERT_EQ(LoadScriptFile(State.Instance, State.ClassName, NULL, scriptPath.c_str(), &State.ScriptHandle,
                                 &State.InstallScript), 0);
        ASSERT_EQ(FindScriptSection(State.Instance, State.ClassName, NULL, State.FilesSection, TRUE,
                                    State.InstallScript, &State.ScriptCursor), 0);
        State.LastLineLength = 0;
        State.CancelRequested = 0;
        PostMessageA(State.MainWindow, WM_COPY_NEXT_FILE, 0, 0);
    }

    void UseCopyDialog()
    {
        DestroyWindow(State.CopyDialog);
        State.CopyDialog = CreateCopyDialog(State.MainWindow);
        ASSERT_NE(State.CopyDialog, (HWND)NULL);
    }

    // One round of the installer's loop: input and repaints first, then the next message.
    void PumpOne()
    {
        MSG msg;
        if (!PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE | PM_QS_INPUT | PM_QS_PAINT))
            ASSERT_TRUE(GetMessageA(&msg, NULL, 0, 0));
        if (State.CopyDialog != NULL && IsDialogMessageA(State.CopyDialog, &msg))
            return;
        DispatchMessageA(&msg);
    }

    // Runs the loop until `done` holds or the chain has ended.
    void RunUntil(const std::function<bool()> &done)
    {
        for (int step = 0; step < MAX_STEPS && EndMessage == 0 && !done(); step++) {
            PumpOne();
            if (HasFatalFailure())
                return;
        }
    }

    // Runs the chain to its end: WM_COPY_DONE or WM_FINISH.
    UINT Run()
    {
        RunUntil([] { return false; });
        return EndMessage;
    }

    // The destination of `name` below the target directory.
    static std::string Target(const std::string &name) { return std::string(TARGET) + "\\" + name; }

    // The notifications and private messages of the run, in order: "256", "260", "next",
    // "chunk", "done", "finish".
    static std::vector<std::string> Chain()
    {
        std::vector<std::string> chain;
        for (const sim::TraceEntry &entry : sim::Trace()) {
            if (entry.kind == sim::TraceEntry::Send && entry.window == State.CopyDialog && entry.message == WM_COMMAND) {
                chain.push_back(std::to_string(entry.wParam));
                EXPECT_EQ(entry.lParam, 0);
            } else if (entry.kind == sim::TraceEntry::Post && entry.window == State.MainWindow) {
                EXPECT_EQ(entry.wParam, 0u);
                EXPECT_EQ(entry.lParam, 0);
                switch (entry.message) {
                case WM_COPY_NEXT_FILE: chain.push_back("next"); break;
                case WM_COPY_CHUNK: chain.push_back("chunk"); break;
                case WM_COPY_DONE: chain.push_back("done"); break;
                case WM_FINISH: chain.push_back("finish"); break;
                default: chain.push_back("other " + std::to_string(entry.message)); break;
                }
            } else if (entry.kind == sim::TraceEntry::MessageBox) {
                chain.push_back("box");
            }
        }
        return chain;
    }
};

TEST_F(CopyEngineTest, CopiesAFileWithItsTimesIntoTheTargetDirectory)
{
    UseCopyDialog();
    std::string content = Bytes(12345);
    sim::PutFile("C:\\DIST\\readme.txt", content);
    FILETIME creation{ 0x11111111, 0x01C00000 }, access{ 0x22222222, 0x01D00000 }, write{ 0x33333333, 0x01D10000 };
    sim::PutFileTimes("C:\\DIST\\readme.txt", creation, access, write);
    State.TotalBytes = (int)content.size();
    StartCopy("Readme=readme.txt\r\n");

    EXPECT_EQ(Run(), (UINT)WM_COPY_DONE);
    // Times first: reading the copy would move its last access.
    FILETIME c, a, w, sourceAccess;
    ASSERT_TRUE(sim::GetFileTimes(Target("readme.txt"), &c, &a, &w));
    EXPECT_TRUE(SameTime(c, creation));
    EXPECT_TRUE(SameTime(w, write));
    // Reading the source may have moved its own last access; the copy has the time it had at the end.
    ASSERT_TRUE(sim::GetFileTimes("C:\\DIST\\readme.txt", &c, &sourceAccess, &w));
    EXPECT_TRUE(SameTime(a, sourceAccess));
    EXPECT_EQ(sim::GetFile(Target("readme.txt")), content);
    EXPECT_EQ(State.FailureCount, 0);
    EXPECT_EQ(State.CopiedBytes, (int)content.size());
    EXPECT_EQ(sim::ControlText(State.CopyDialog, IDC_COPY_ENTRY), "readme.txt : Readme");
    EXPECT_EQ(sim::ControlText(State.CopyDialog, IDC_COPY_FILE_PERCENT), "100 %");
    EXPECT_EQ(sim::ControlText(State.CopyDialog, IDC_COPY_OVERALL_PERCENT), "100 %");
    EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(CopyEngineTest, EntriesNameTheirDestinationAndSource)
{
    sim::PutFile("C:\\DIST\\disk1\\manual.txt", "manual");
    sim::PutFile("C:\\DIST\\lib.dll", "library");
    sim::PutFile("C:\\DIST\\sys.ini", "system");
    sim::PutFile("C:\\DIST\\src.txt", "semicolons");
    sim::PutFile("C:\\DIST\\label-less.txt", "no label");
    StartCopy("Manual=doc\\manual.txt;disk1\\manual.txt\r\n"
              "Library=%lib.dll;lib.dll\r\n"
              "System=%sys.ini\r\n"
              "Odd=a;b.txt;src.txt\r\n"
              "=label-less.txt\r\n");

    EXPECT_EQ(Run(), (UINT)WM_COPY_DONE);
    struct Row {
        const char *destination, *content;
    } rows[] = {
        { "C:\\Program Files\\Quillet\\doc\\manual.txt", "manual" },
        { "C:\\WINDOWS\\lib.dll", "library" },
        { "C:\\WINDOWS\\sys.ini", "system" },
        { "C:\\Program Files\\Quillet\\a;b.txt", "semicolons" },
        { "C:\\Program Files\\Quillet\\label-less.txt", "no label" },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.destination);
        EXPECT_EQ(sim::GetFile(row.destination), std::string(row.content));
    }
    EXPECT_FALSE(sim::DirectoryExists("C:\\WINDOWS\\disk1"));
    EXPECT_EQ(State.FailureCount, 0);

    // The dialog is told the whole value, without the mark of the Windows directory.
    std::vector<std::string> values;
    for (const Notification &n : Notifications) {
        if (n.id == IDC_COPY_ENTRY)
            values.push_back(n.value);
    }
    EXPECT_EQ(values, (std::vector<std::string>{ "doc\\manual.txt;disk1\\manual.txt", "lib.dll;lib.dll", "sys.ini",
                                                 "a;b.txt;src.txt", "label-less.txt" }));
}

TEST_F(CopyEngineTest, EveryLineCostsOneStepAndAMissingSourceIsCountedSilently)
{
    sim::PutFile("C:\\DIST\\a.txt", "a");
    // A line with text but no '=' has an empty value: its source is the installer's folder.
    StartCopy("\r\n; a comment\r\nMissing=missing.txt\r\nwords without value\r\nA=a.txt\r\n");

    EXPECT_EQ(Run(), (UINT)WM_COPY_DONE);
    EXPECT_EQ(Chain(), (std::vector<std::string>{ "next",                                 // posted by the test
                                                  "next", "next",                         // blank, comment
                                                  "256", "next",                          // missing source
                                                  "256", "next",                          // no value
                                                  "256", "260", "chunk", "260", "next",   // a.txt
                                                  "done" }));
    EXPECT_EQ(State.FailureCount, 2);
    EXPECT_EQ(sim::GetFile(Target("a.txt")), std::string("a"));
    EXPECT_FALSE(sim::GetFile(Target("missing.txt")).has_value());
}

TEST_F(CopyEngineTest, AStepCopiesChunksForAboutTenMillisecondsAndTellsTheDialogWhatChanges)
{
    struct Row {
        const char *name;
        size_t size;
        DWORD callMicroseconds;  // each read and each write
        bool measured;           // the source's size can be had
        std::vector<std::string> chain;
        std::vector<int> done;  // FileBytesDone at each progress notification
    } rows[] = {
        { "20 ms a chunk: one chunk a step", 20000, ONE_CHUNK_A_STEP_MICROSECONDS, true,
          { "next", "256", "260", "chunk", "260", "chunk", "260", "chunk", "260", "next", "done" },
          { 0, 8192, 16384, 20000 } },
        // 19, 39, 59 % at 4, 8, 12 ms; then 79, 99, 100 %.
        { "4 ms a chunk: three chunks, then the rest", 40961, 2000, true,
          { "next", "256", "260", "chunk", "260", "260", "260", "chunk", "260", "260", "260", "next", "done" },
          { 0, 8192, 16384, 24576, 32768, 40960, 40961 } },
        { "no time at all: the whole file in one step", 20000, 0, true,
          { "next", "256", "260", "chunk", "260", "260", "260", "next", "done" }, { 0, 8192, 16384, 20000 } },
        // A full last chunk is followed by a read of nothing, which tells nothing.
        { "a multiple of 8192 bytes", 8192, 0, true, { "next", "256", "260", "chunk", "260", "next", "done" },
          { 0, 8192 } },
        { "empty", 0, 0, true, { "next", "256", "260", "chunk", "next", "done" }, { 0 } },
        // Its percentage stays 0: the dialog is told at the start and at the end alone.
        { "a size that cannot be measured", 20000, 0, false, { "next", "256", "260", "chunk", "260", "next", "done" },
          { 0, 20000 } },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        StartOver();
        sim::SetFileCallDuration(row.callMicroseconds);
        std::string content = Bytes(row.size, (unsigned)row.size);
        sim::PutFile("C:\\DIST\\data.bin", content);
        if (!row.measured)
            sim::FailSeek("DIST\\data.bin");
        StartCopy("Data=data.bin\r\n");
        EXPECT_EQ(Run(), (UINT)WM_COPY_DONE);
        EXPECT_EQ(Chain(), row.chain);
        std::vector<int> done;
        for (const Notification &n : Notifications) {
            if (n.id != IDC_COPY_FILE_PERCENT)
                continue;
            done.push_back(n.done);
            EXPECT_EQ(n.total, row.measured ? (int)row.size : 0);
            EXPECT_EQ(n.copied, n.done);
        }
        EXPECT_EQ(done, row.done);
        EXPECT_EQ(sim::GetFile(Target("data.bin")), content);
    }
}

// What the dialog's file percentage reads after each progress notification.
std::vector<std::string> ShownFilePercentages;
WNDPROC WatchedDialogProc;

LRESULT CALLBACK PercentageWatchProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = CallWindowProcA(WatchedDialogProc, dialog, message, wParam, lParam);
    if (message == WM_COMMAND && LOWORD(wParam) == IDC_COPY_FILE_PERCENT)
        ShownFilePercentages.push_back(sim::ControlText(dialog, IDC_COPY_FILE_PERCENT));
    return result;
}

TEST_F(CopyEngineTest, ALargeFileCostsStepsAndDrawingsByTimeAndPercentageNotByChunk)
{
    UseCopyDialog();
    ShownFilePercentages.clear();
    WatchedDialogProc = (WNDPROC)SetWindowLongPtrA(State.CopyDialog, GWLP_WNDPROC, (LONG_PTR)PercentageWatchProc);
    // 8192 chunks on a disk that takes 0.1 ms a chunk: 819 ms, about 82 steps of 10 ms.
    const size_t size = 64 << 20;
    sim::SetFileCallDuration(50);
    std::string content = Bytes(size);
    sim::PutFile("C:\\DIST\\big.bin", content);
    State.TotalBytes = (int)size;
    StartCopy("Big=big.bin\r\n");

    EXPECT_EQ(Run(), (UINT)WM_COPY_DONE);
    std::vector<std::string> chain = Chain();
    long steps = std::count(chain.begin(), chain.end(), "chunk");
    EXPECT_GE(steps, 75);
    EXPECT_LE(steps, 100);
    // Every percentage once, in order: the dialog is told of each change and of nothing else.
    std::vector<std::string> everyPercentage;
    for (int percent = 0; percent <= PERCENT_FULL; percent++)
        everyPercentage.push_back(std::to_string(percent) + " %");
    EXPECT_EQ(ShownFilePercentages, everyPercentage);
    EXPECT_EQ(std::count(chain.begin(), chain.end(), "256"), 1);
    // Each bar at most once a percentage.
    int drawings = sim::DeviceContextsTaken(GetDlgItem(State.CopyDialog, IDC_COPY_FILE_BAR)) +
                   sim::DeviceContextsTaken(GetDlgItem(State.CopyDialog, IDC_COPY_OVERALL_BAR));
    EXPECT_LE(drawings, 2 * (PERCENT_FULL + 1));
    EXPECT_EQ(sim::ControlText(State.CopyDialog, IDC_COPY_OVERALL_PERCENT), "100 %");
    EXPECT_TRUE(sim::GetFile(Target("big.bin")) == content);
}

TEST_F(CopyEngineTest, TheCopyIsWrittenBesideItsDestinationAndThenTakesItsPlace)
{
    UseCopyDialog();
    sim::SetFileCallDuration(ONE_CHUNK_A_STEP_MICROSECONDS);
    std::string content = Bytes(30000, 3);
    sim::PutFile("C:\\DIST\\Quillet.exe", content);
    PutOldFile(Target("Quillet.exe"), std::string(40000, 'o'));
    StartCopy("Editor=Quillet.exe\r\n");

    // Halfway the old file is whole and the copy grows under the destination's name and the suffix.
    RunUntil([] { return State.FileBytesDone == 8192; });
    EXPECT_EQ(sim::GetFile(Target("Quillet.exe")), std::string(40000, 'o'));
    EXPECT_TRUE(HasOldTime(Target("Quillet.exe")));
    EXPECT_EQ(sim::GetFile(Target("Quillet.exe.~qs")), content.substr(0, 8192));
    EXPECT_EQ(Run(), (UINT)WM_COPY_DONE);
    EXPECT_EQ(sim::GetFile(Target("Quillet.exe")), content);
    EXPECT_EQ(FilesBelow(TARGET), (std::vector<std::string>{ "Quillet.exe" }));
    EXPECT_EQ(State.FailureCount, 0);
}

TEST_F(CopyEngineTest, AnOldDestinationLongerOrShorterGivesWayToTheWholeNewFile)
{
    struct Row {
        size_t oldSize, newSize;
    } rows[] = { { 30000, 20000 }, { 5, 0 }, { 8192 * 2, 8192 }, { 100, 20000 } };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::to_string(row.oldSize) + " -> " + std::to_string(row.newSize));
        StartOver();
        std::string content = Bytes(row.newSize, 3);
        sim::PutFile("C:\\DIST\\Quillet.exe", content);
        PutOldFile(Target("Quillet.exe"), std::string(row.oldSize, 'o'));
        StartCopy("Editor=Quillet.exe\r\n");
        EXPECT_EQ(Run(), (UINT)WM_COPY_DONE);
        EXPECT_EQ(sim::GetFile(Target("Quillet.exe")), content);
        EXPECT_FALSE(HasOldTime(Target("Quillet.exe")));
        EXPECT_EQ(FilesBelow(TARGET), (std::vector<std::string>{ "Quillet.exe" }));
        EXPECT_EQ(State.FailureCount, 0);
    }
}

TEST_F(CopyEngineTest, ADestinationThatCannotBeReplacedIsShownBeforeAnyChunk)
{
    HANDLE held = INVALID_HANDLE_VALUE;
    struct Row {
        const char *name;
        std::function<void()> arrange;
    } rows[] = {
        // As Windows refuses a read-only file.
        { "read-only", [] { sim::FailOpen("Quillet\\Quillet.exe", ERROR_ACCESS_DENIED); } },
        { "in use",
          [&held] {
              held = CreateFileA(Target("Quillet.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0,
                                 NULL);
          } },
        { "a directory",
          [] {
              remove(sim::HostPath(Target("Quillet.exe")).c_str());
              sim::PutFile(Target("Quillet.exe\\inside.txt"), "inside");
          } },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        StartOver();
        sim::SetUser(AnswerAll(IDOK));
        sim::PutFile("C:\\DIST\\Quillet.exe", Bytes(20000));
        sim::PutFile("C:\\DIST\\next.txt", "next");
        PutOldFile(Target("Quillet.exe"), "old editor");
        row.arrange();
        std::vector<std::string> before = FilesBelow(TARGET);
        StartCopy("Editor=Quillet.exe\r\nNext=next.txt\r\n");

        EXPECT_EQ(Run(), (UINT)WM_COPY_DONE);
        EXPECT_EQ(BoxTexts(), (std::vector<std::string>{ "Cannot open \"C:\\Program Files\\Quillet\\Quillet.exe\" !" }));
        EXPECT_EQ(Chain(), (std::vector<std::string>{ "next", "256", "box", "next", "256", "260", "chunk", "260",
                                                      "next", "done" }));
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        held = INVALID_HANDLE_VALUE;
        before.push_back("next.txt");
        EXPECT_EQ(FilesBelow(TARGET), before);
        if (std::string(row.name) != "a directory") {
            EXPECT_EQ(sim::GetFile(Target("Quillet.exe")), std::string("old editor"));
            EXPECT_TRUE(HasOldTime(Target("Quillet.exe")));
        }
        EXPECT_EQ(State.FailureCount, 1);
    }
}

TEST_F(CopyEngineTest, ALeftoverOfARunEndedByForceGoesWhereTheNextRunWrites)
{
    sim::PutFile("C:\\DIST\\a.txt", "a");
    sim::PutFile(Target("old.dll.~qs"), "leftover");
    sim::PutFile(Target("a.txt.~qs"), "leftover of a.txt, longer than it");
    // Not the installer's: another suffix, a folder, a folder it does not write to.
    sim::PutFile(Target("notes.~qsx"), "notes");
    sim::PutFile(Target("box.~qs\\inside.txt"), "inside");
    sim::PutFile("C:\\Program Files\\Other\\x.dll.~qs", "other");
    StartCopy("A=a.txt\r\n");

    EXPECT_EQ(Run(), (UINT)WM_COPY_DONE);
    // old.dll is no file of this run's: what lies beside it is not the run's to settle.
    EXPECT_EQ(FilesBelow(TARGET),
              (std::vector<std::string>{ "a.txt", "box.~qs\\inside.txt", "notes.~qsx", "old.dll.~qs" }));
    EXPECT_EQ(sim::GetFile(Target("a.txt")), std::string("a"));
    EXPECT_TRUE(sim::GetFile("C:\\Program Files\\Other\\x.dll.~qs").has_value());
}

TEST_F(CopyEngineTest, AWindowsDestinationIsTriedTwiceBeforeTheUserIsAsked)
{
    struct Row {
        int failingOpens;
        bool prompted;
    } rows[] = { { 1, false }, { 2, true } };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.failingOpens);
        StartOver();
        sim::SetUser(AnswerAll(IDOK));
        sim::PutFile("C:\\DIST\\lib.dll", "library");
        sim::FailOpen("WINDOWS\\lib.dll", ERROR_SHARING_VIOLATION, row.failingOpens);
        StartCopy("Library=%lib.dll;lib.dll\r\n");
        EXPECT_EQ(Run(), (UINT)WM_COPY_DONE);
        EXPECT_EQ(sim::MessageBoxes().size(), row.prompted ? 1u : 0u);
        // No third attempt after the prompt: it would have created the file.
        EXPECT_EQ(sim::GetFile("C:\\WINDOWS\\lib.dll").has_value(), !row.prompted);
        EXPECT_EQ(State.FailureCount, row.prompted ? 1 : 0);
    }
}

TEST_F(CopyEngineTest, AMissingWindowsSubdirectoryIsNotCreated)
{
    sim::SetUser(AnswerAll(IDOK));
    sim::PutFile("C:\\DIST\\lib.dll", "library");
    StartCopy("Library=%system\\lib.dll;lib.dll\r\n");

    EXPECT_EQ(Run(), (UINT)WM_COPY_DONE);
    ASSERT_EQ(sim::MessageBoxes().size(), 1u);
    const sim::MessageBoxRecord &box = sim::MessageBoxes()[0];
    EXPECT_EQ(box.text, "Cannot open \"C:\\WINDOWS\\system\\lib.dll\" !");
    EXPECT_EQ(box.caption, "Install");
    EXPECT_EQ(box.type, (UINT)(MB_OKCANCEL | MB_ICONERROR));
    EXPECT_EQ(box.owner, State.MainWindow);
    EXPECT_FALSE(sim::DirectoryExists("C:\\WINDOWS\\system"));
    EXPECT_EQ(State.FailureCount, 1);
}

TEST_F(CopyEngineTest, TheDestinationPromptDecidesWhetherCopyingGoesOn)
{
    struct Row {
        int answer;
        UINT end;
        bool nextCopied;
    } rows[] = { { IDOK, WM_COPY_DONE, true }, { IDCANCEL, WM_FINISH, false } };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.answer);
        StartOver();
        sim::SetUser(AnswerAll(row.answer));
        sim::PutFile("C:\\DIST\\locked.txt", "locked");
        sim::PutFile("C:\\DIST\\next.txt", "next");
        // A target destination is tried once only.
        sim::FailOpen("Quillet\\locked.txt", ERROR_ACCESS_DENIED, 1);
        StartCopy("Locked=locked.txt\r\nNext=next.txt\r\n");

        EXPECT_EQ(Run(), row.end);
        EXPECT_EQ(BoxTexts(), (std::vector<std::string>{ "Cannot open \"C:\\Program Files\\Quillet\\locked.txt\" !" }));
        EXPECT_FALSE(sim::GetFile(Target("locked.txt")).has_value());
        EXPECT_EQ(sim::GetFile(Target("next.txt")).has_value(), row.nextCopied);
        EXPECT_EQ(State.FailureCount, 1);
        EXPECT_EQ(Chain().back(), row.end == WM_FINISH ? "finish" : "done");
    }
}

TEST_F(CopyEngineTest, AReadErrorIsShownAndTheNextEntryFollows)
{
    sim::SetUser(AnswerAll(IDOK));
    sim::PutFile("C:\\DIST\\big.bin", Bytes(30000));
    sim::PutFile("C:\\DIST\\next.txt", "next");
    sim::FailRead("DIST\\big.bin", 8192);
    StartCopy("Big=big.bin\r\nNext=next.txt\r\n");

    EXPECT_EQ(Run(), (UINT)WM_COPY_DONE);
    ASSERT_EQ(sim::MessageBoxes().size(), 1u);
    EXPECT_EQ(sim::MessageBoxes()[0].text, "Cannot read \"C:\\DIST\\big.bin\" !");
    EXPECT_EQ(sim::MessageBoxes()[0].type, (UINT)MB_ICONERROR);
    EXPECT_EQ(sim::MessageBoxes()[0].owner, State.MainWindow);
    // What was written goes: the destination stays absent.
    EXPECT_EQ(FilesBelow(TARGET), (std::vector<std::string>{ "next.txt" }));
    EXPECT_EQ(sim::GetFile(Target("next.txt")), std::string("next"));
    EXPECT_EQ(State.FailureCount, 1);
}

TEST_F(CopyEngineTest, AFullDiskIsShownAndTheNextEntryFollows)
{
    sim::SetUser(AnswerAll(IDOK));
    sim::PutFile("C:\\DIST\\big.bin", Bytes(30000));
    sim::PutFile("C:\\DIST\\next.txt", "next");
    sim::FailWrite("Quillet\\big.bin", 10000);
    StartCopy("Big=big.bin\r\nNext=next.txt\r\n");

    EXPECT_EQ(Run(), (UINT)WM_COPY_DONE);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{ "Cannot write \"C:\\Program Files\\Quillet\\big.bin\" !" }));
    EXPECT_EQ(sim::MessageBoxes()[0].type, (UINT)MB_ICONERROR);
    EXPECT_EQ(FilesBelow(TARGET), (std::vector<std::string>{ "next.txt" }));
    EXPECT_EQ(sim::GetFile(Target("next.txt")), std::string("next"));
    EXPECT_EQ(State.FailureCount, 1);
    // The chunk that failed is not counted as copied.
    EXPECT_EQ(State.CopiedBytes, 8192 + 4);
}

TEST_F(CopyEngineTest, CancelDuringAFileStopsItBeforeTheNextChunkAndLeavesItsDestinationAsItWas)
{
    struct Row {
        const char *name;
        void (*act)(HWND dialog);
    } rows[] = {
        { "Cancel clicked", [](HWND dialog) { sim::PressButton(dialog, IDC_COPY_CANCEL); } },
        // Cancel is the default button and has the focus.
        { "Enter", [](HWND dialog) { sim::PressKey(dialog, VK_RETURN); } },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        StartOver();
        UseCopyDialog();
        sim::SetFileCallDuration(ONE_CHUNK_A_STEP_MICROSECONDS);
        sim::PutFile("C:\\DIST\\big.bin", Bytes(30000));
        sim::PutFile("C:\\DIST\\next.txt", "next");
        StartCopy("Big=big.bin\r\nNext=next.txt\r\n");

        RunUntil([] { return State.FileBytesDone == 8192; });
        row.act(State.CopyDialog);
        EXPECT_EQ(Run(), (UINT)WM_COPY_DONE);
        // The user's input is taken before the step that was already posted.
        EXPECT_EQ(State.FileBytesDone, 8192);
        EXPECT_EQ(State.CancelRequested, 1);
        EXPECT_EQ(State.FailureCount, 1);
        EXPECT_TRUE(FilesBelow(TARGET).empty());
        EXPECT_TRUE(IsWindow(State.CopyDialog));
    }
}

TEST_F(CopyEngineTest, CancelBetweenFilesTakesEffectOnceTheNextFilesAreOpen)
{
    UseCopyDialog();
    sim::PutFile("C:\\DIST\\first.txt", "first");
    sim::PutFile("C:\\DIST\\second.txt", Bytes(5000));
    sim::PutFile("C:\\DIST\\third.txt", "third");
    StartCopy("First=first.txt\r\nSecond=second.txt\r\nThird=third.txt\r\n");

    // The first file is complete and its step has posted the next entry.
    RunUntil([] { return sim::GetFile(Target("first.txt")) == std::string("first") && State.SourceHandle == NULL; });
    ASSERT_EQ(sim::QueuedMessages(State.MainWindow, WM_COPY_NEXT_FILE, WM_COPY_NEXT_FILE), 1);
    sim::PressButton(State.CopyDialog, IDC_COPY_CANCEL);
    EXPECT_EQ(Run(), (UINT)WM_COPY_DONE);
    // The second entry's files were opened, but its destination is not made.
    EXPECT_EQ(FilesBelow(TARGET), (std::vector<std::string>{ "first.txt" }));
    EXPECT_EQ(State.FailureCount, 1);
}

TEST_F(CopyEngineTest, WindowsDestinationsNeverOpenACutPath)
{
    struct Row {
        size_t directoryLength;
        const char *name;
        bool copied;
    } rows[] = {
        // 259 characters: the temporary file beside it gives up the end of the name for its suffix.
        { 251, "lib.dll", true },
        { 252, "lib.dll", false },
        { 257, "lib.dll", false },
        // The path fits, but no character of the name would be left before the suffix.
        { 254, "a.d", false },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.directoryLength);
        StartOver();
        sim::SetUser(AnswerAll(IDOK));
        std::string windows = LongDirectory(row.directoryLength);
        sim::SetWindowsDirectory(windows);
        sim::PutFile(windows + "\\placeholder", "");
        sim::PutFile("C:\\DIST\\" + std::string(row.name), "library");
        StartCopy("Library=%" + std::string(row.name) + "\r\n");

        EXPECT_EQ(Run(), (UINT)WM_COPY_DONE);
        EXPECT_EQ(FilesBelow(windows).size(), row.copied ? 2u : 1u);
        std::string full = windows + "\\" + row.name;
        EXPECT_EQ(sim::GetFile(full).has_value(), row.copied);
        // Cut at 259 characters the path would have named a file of its own.
        if (!row.copied)
            EXPECT_FALSE(sim::GetFile(full.substr(0, MAX_PATH - 1)).has_value());
        EXPECT_EQ(sim::MessageBoxes().size(), row.copied ? 0u : 1u);
        EXPECT_EQ(State.FailureCount, row.copied ? 0 : 1);
    }
}

TEST_F(CopyEngineTest, AWindowsDirectoryEndingInABackslashGetsNoSecondOne)
{
    sim::SetUser(AnswerAll(IDOK));
    sim::SetWindowsDirectory("C:\\WINDOWS\\");
    sim::PutFile("C:\\DIST\\lib.dll", "library");
    sim::FailOpen("WINDOWS\\lib.dll", ERROR_ACCESS_DENIED, 3);
    StartCopy("Library=%lib.dll;lib.dll\r\n");

    EXPECT_EQ(Run(), (UINT)WM_COPY_DONE);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{ "Cannot open \"C:\\WINDOWS\\lib.dll\" !" }));
}

TEST_F(CopyEngineTest, AWindowsDirectoryTooLongForThePathIsAFailedOpen)
{
    sim::SetUser(AnswerAll(IDCANCEL));
    sim::SetWindowsDirectory(LongDirectory(300));
    sim::PutFile("C:\\DIST\\lib.dll", "library");
    StartCopy("Library=%lib.dll;lib.dll\r\n");

    EXPECT_EQ(Run(), (UINT)WM_FINISH);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{ "Cannot open \"lib.dll\" !" }));
    EXPECT_EQ(State.FailureCount, 1);
}

TEST_F(CopyEngineTest, ASourcePathThatWouldNotFitIsNeverOpened)
{
    std::string directory = LongDirectory(200);
    sim::SetModulePath(directory + "\\SETUP.EXE");
    struct Row {
        size_t nameLength;  // after the 201 characters of the installer's folder
        bool copied;
    } rows[] = { { 58, true }, { 59, false }, { 100, false } };
    std::string lines;
    for (const Row &row : rows) {
        std::string name(row.nameLength, 'n');
        // The first 58 characters of any longer name are the name of the file that fits.
        sim::PutFile(directory + "\\" + name.substr(0, 58), "cut");
        lines += "File=copy" + std::to_string(row.nameLength) + ".txt;" + name + "\r\n";
    }
    StartCopy(lines);

    EXPECT_EQ(Run(), (UINT)WM_COPY_DONE);
    for (const Row &row : rows) {
        SCOPED_TRACE(row.nameLength);
        EXPECT_EQ(sim::GetFile(Target("copy" + std::to_string(row.nameLength) + ".txt")).has_value(), row.copied);
    }
    EXPECT_EQ(State.FailureCount, 2);
    EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(CopyEngineTest, ASizeThatCannotBeMeasuredShowsAsEmpty)
{
    std::string content = Bytes(10000);
    sim::PutFile("C:\\DIST\\a.bin", content);
    sim::FailSeek("DIST\\a.bin");
    StartCopy("A=a.bin\r\n");

    EXPECT_EQ(Run(), (UINT)WM_COPY_DONE);
    EXPECT_EQ(sim::GetFile(Target("a.bin")), content);
    for (const Notification &n : Notifications) {
        EXPECT_EQ(n.total, 0);
        EXPECT_GE(n.done, 0);
    }
}

TEST_F(CopyEngineTest, TheOverallCountSaturatesInsteadOfWrapping)
{
    sim::PutFile("C:\\DIST\\a.bin", Bytes(20000));
    StartCopy("A=a.bin\r\n");
    State.CopiedBytes = INT_MAX - 10000;

    EXPECT_EQ(Run(), (UINT)WM_COPY_DONE);
    EXPECT_EQ(State.CopiedBytes, INT_MAX);
    for (const Notification &n : Notifications)
        EXPECT_GT(n.copied, 0);
}

TEST(CopyEngineHelpers, AddFileSizeSaturatesAndIgnoresNegativeSizes)
{
    struct Row {
        int total, size, result;
    } rows[] = {
        { 0, 100, 100 },
        { INT_MAX - 5, 5, INT_MAX },
        { INT_MAX - 5, 6, INT_MAX },
        { INT_MAX, INT_MAX, INT_MAX },
        { 100, -1, 100 },
        { 100, 0, 100 },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::to_string(row.total) + " + " + std::to_string(row.size));
        int total = row.total;
        AddFileSize(&total, row.size);
        EXPECT_EQ(total, row.result);
    }
}

TEST(CopyEngineHelpers, SplitEntryValueCutsAtTheLastSemicolon)
{
    struct Row {
        const char *value, *destination, *source;
    } rows[] = {
        { "doc\\manual.txt;disk1\\manual.txt", "doc\\manual.txt", "disk1\\manual.txt" },
        { "readme.txt", "readme.txt", "readme.txt" },
        { "a;b;c", "a;b", "c" },
        { "dest;", "dest", "" },
        { ";src", "", "src" },
        { "", "", "" },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.value);
        char value[VALUE_CAPACITY];
        CopyString(value, VALUE_CAPACITY, row.value);
        const char *source = SplitEntryValue(value);
        EXPECT_STREQ(value, row.destination);
        EXPECT_STREQ(source, row.source);
    }
}

}  // namespace
