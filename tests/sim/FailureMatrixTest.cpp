// Every failure path of the installer, each one a whole installation on the simulated machine: the
// message box it shows (text, type, caption, owner), what the failure count and the final report
// make of it, where the chain of steps goes next, and that nothing is held any more at the end.
// Row names give the message catalogue's number and the failure table the row comes from.
#include "InstallFixture.h"

#include <objbase.h>

#include <algorithm>
#include <climits>

#include "PeImage.h"
#include "resources/resource.h"
#include "tools/Packer.h"

namespace {

using Steps = std::vector<std::string>;

// Message box types as the catalogue numbers them.
enum : UINT {
    ERROR_OK = 16,
    ERROR_OK_CANCEL = 17,
    QUESTION_YES_NO = 36,
    INFORMATION_OK = 64,
};

enum class Caption { ClassName, Application, Title };
enum class Owner { None, MainWindow };

struct Box {
    UINT id;
    std::string argument;
    UINT type;
    Caption caption;
    Owner owner;
};

// How the posted steps of a row are compared.
enum class Match { Exact, Tail };

// The exit code the run's outcome calls for, as deployment tools read it: installed, failed or
// never started, ended by the user.
const int EXIT_OF_OUTCOME = INT_MIN;

struct Row {
    std::string name;
    std::function<std::string(std::string)> script;   // the example script, changed; null: as it is
    std::function<void()> arrange;                     // files, registry, faults, the user's answers
    std::vector<Box> boxes;                            // every message box of the run, in order
    int failures = 0;                                  // State.FailureCount after the run
    Steps steps;
    Match match = Match::Tail;
    bool backdrop = true;                              // the background bitmap exists once the window runs
    bool configurationDeleted = true;                  // meaningful after message 5 only
    std::function<void()> check;                       // what else the row leaves behind
    int exitCode = EXIT_OF_OUTCOME;
    std::string arguments;                             // the installer's command line
};

const std::string START = "INSTALL_START", NEXT = "COPY_NEXT_FILE", CHUNK = "COPY_CHUNK", DONE = "COPY_DONE",
                  SHORTCUTS = "MAKE_SHORTCUTS", REGISTER = "REGISTER_APP", FINISH = "FINISH";
// The example: a comment line, Quillet.exe in three chunks, the help file, readme.txt, Unquil.exe of
// exactly 8192 bytes (a second, empty read), the empty line, then the end of [Files].
const Steps CLEAN_STEPS = { START, NEXT, NEXT, CHUNK, CHUNK, CHUNK, NEXT, CHUNK, NEXT, CHUNK, NEXT,
                            CHUNK, CHUNK, NEXT, NEXT, DONE, SHORTCUTS, REGISTER };
const Steps COMPLETED = { DONE, SHORTCUTS, REGISTER };

const char SCRIPT[] = "C:\\DIST\\SETUP.inf";
const char BITMAP[] = "C:\\DIST\\setup.bmp";
const std::string TARGET = "C:\\Program Files\\Quillet";
const std::string PROGRAMS = "C:\\Users\\me\\Start Menu\\Programs";
const std::string DESKTOP = "C:\\Users\\me\\Desktop";
const char CONFIGURATION[] = "C:\\WINDOWS\\Quillet.cfg";
const char SHELL_FOLDERS[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char VERSION_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const char APP_PATH_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Quillet.exe";
const char UNINSTALL_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillet";
const char OPEN_KEY[] = "txtfile\\shell\\open\\command";
const char PRINT_KEY[] = "txtfile\\shell\\print\\command";

Box StartupBox(UINT id, const std::string &argument, UINT type)
{
    return { id, argument, type, Caption::ClassName, Owner::None };
}

Box WindowBox(UINT id, const std::string &argument, UINT type)
{
    return { id, argument, type, Caption::ClassName, Owner::MainWindow };
}

const Box QUESTION = { IDS_REGISTER_QUESTION, "", QUESTION_YES_NO, Caption::Title, Owner::MainWindow };
const Box DONE_REPORT = { IDS_REPORT_DONE_S, "Quillet", INFORMATION_OK, Caption::Title, Owner::MainWindow };
const Box FAILED_REPORT = { IDS_REPORT_FAILED_S, "Quillet", INFORMATION_OK, Caption::Title, Owner::MainWindow };
const Box ABANDONED_REPORT = { IDS_REPORT_ABANDONED_S, "Quillet", INFORMATION_OK, Caption::Title, Owner::MainWindow };
// A run whose failure shows nothing: the question and the report of success.
const std::vector<Box> SILENT = { QUESTION, DONE_REPORT };

std::function<std::string(std::string)> Replacing(const std::string &from, const std::string &to)
{
    return [from, to](std::string script) {
        size_t at = script.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos)
            script.replace(at, from.size(), to);
        return script;
    };
}

bool HasValue(HKEY root, const std::string &path, const std::string &name)
{
    return sim::RegGet(root, path, name).has_value();
}

std::string TextValue(HKEY root, const std::string &path, const std::string &name)
{
    std::optional<sim::RegValue> value = sim::RegGet(root, path, name);
    if (!value)
        return "<none>";
    std::string text = value->bytes;
    if (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

// Which of the seven entries of a "Yes" registration exist, as a string of 1 and 0 in entry order
// (the three suffix keys count as entry 7 only when all three are there).
std::string YesEntries()
{
    std::string entries;
    entries += HasValue(HKEY_LOCAL_MACHINE, APP_PATH_KEY, "") ? '1' : '0';
    entries += HasValue(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "DisplayName") ? '1' : '0';
    entries += HasValue(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "UninstallString") ? '1' : '0';
    entries += HasValue(HKEY_CLASSES_ROOT, "txtfile\\DefaultIcon", "") ? '1' : '0';
    entries += HasValue(HKEY_CLASSES_ROOT, OPEN_KEY, "") ? '1' : '0';
    entries += HasValue(HKEY_CLASSES_ROOT, PRINT_KEY, "") ? '1' : '0';
    bool suffixes = HasValue(HKEY_CLASSES_ROOT, ".txt", "") && HasValue(HKEY_CLASSES_ROOT, ".log", "") &&
                    HasValue(HKEY_CLASSES_ROOT, ".ini", "");
    entries += suffixes ? '1' : '0';
    return entries;
}

int DialogsOpened(const std::string &templateName)
{
    int count = 0;
    for (const sim::TraceEntry &entry : sim::Trace()) {
        if (entry.kind == sim::TraceEntry::DialogOpened && entry.text == templateName)
            count++;
    }
    return count;
}

bool FileExists(const std::string &path)
{
    return sim::GetFile(path).has_value();
}

bool SameTime(const FILETIME &a, const FILETIME &b)
{
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// An earlier installation of the example: each file longer or shorter than the example's own, all
// with one time of their own.
const FILETIME OLD_TIME = { 0x55555555, 0x01B00000 };
struct InstalledFile {
    std::string destination, source, oldBytes;
};
const InstalledFile INSTALLED[] = {
    { TARGET + "\\Quillet.exe", "C:\\DIST\\Quillet.exe", std::string(30000, 'q') },
    { TARGET + "\\help\\Quillet.hlp", "C:\\DIST\\Quillet.hlp", "the old help text, longer" },
    { TARGET + "\\readme.txt", "C:\\DIST\\readme.txt", "old" },
    { "C:\\WINDOWS\\Unquil.exe", "C:\\DIST\\Unquil.exe", std::string(100, 'u') },
};

void LayOutOldInstallation()
{
    for (const InstalledFile &file : INSTALLED) {
        sim::PutFile(file.destination, file.oldBytes);
        sim::PutFileTimes(file.destination, OLD_TIME, OLD_TIME, OLD_TIME);
    }
}

// What each of the example's destinations holds, in [Files] order: O the old file with its bytes and
// times, N the new one with its source's, A absent, T anything else (torn); then "+temporary" when a
// temporary file is left anywhere on C:, "+aside" when an old file moved aside is.
std::string Installation()
{
    std::string states;
    for (const InstalledFile &file : INSTALLED) {
        std::optional<std::string> bytes = sim::GetFile(file.destination);
        FILETIME creation, access, write, sourceCreation, sourceAccess, sourceWrite;
        bool timed = sim::GetFileTimes(file.destination, &creation, &access, &write);
        sim::GetFileTimes(file.source, &sourceCreation, &sourceAccess, &sourceWrite);
        if (!bytes)
            states += 'A';
        else if (*bytes == file.oldBytes && timed && SameTime(write, OLD_TIME) && SameTime(creation, OLD_TIME))
            states += 'O';
        else if (bytes == sim::GetFile(file.source) && timed && SameTime(write, sourceWrite))
            states += 'N';
        else
            states += 'T';
    }
    // A name with the suffix at its end, or the suffix and a number.
    auto endsWith = [](std::string name, const std::string &suffix) {
        while (!name.empty() && isdigit((unsigned char)name.back()))
            name.pop_back();
        return name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    std::vector<std::string> files = FilesBelow("C:\\");
    if (std::any_of(files.begin(), files.end(), [&](const std::string &name) { return endsWith(name, ".~qs"); }))
        states += "+temporary";
    if (std::any_of(files.begin(), files.end(), [&](const std::string &name) { return endsWith(name, ".~old"); }))
        states += "+aside";
    return states;
}

// The example's bitmap file with the bytes at `offset` replaced.
std::string PatchedBitmap(size_t offset, const std::string &bytes)
{
    std::string file = MakeBitmapFile(64, 48, RGB(10, 120, 200));
    file.replace(offset, bytes.size(), bytes);
    return file;
}

class FailureMatrixTest : public InstallTest {
protected:
    // Each row on a fresh machine, in each interface language: the example distribution, the row's
    // changes, a whole run.
    void RunRows(const std::vector<Row> &rows)
    {
        for (LANGID language : { 1033, 1036, 1040 }) {
            SCOPED_TRACE("language " + std::to_string(language));
            for (const Row &row : rows) {
                SCOPED_TRACE(row.name);
                sim::Reset(sim::Sandbox());
                sim::SetLanguage(language);
                ResetRun();
                LayOutExample(row.script ? row.script(EXAMPLE_SCRIPT) : std::string(EXAMPLE_SCRIPT));
                if (row.arrange)
                    row.arrange();
                RunRow(row);
            }
        }
    }

    // The caption the catalogue names, as the installer's resources and the example script give it.
    std::string CaptionText(Caption caption) const
    {
        switch (caption) {
        case Caption::ClassName: return Text(IDS_CLASS_NAME);
        case Caption::Application: return "Quillet";
        case Caption::Title: return "Quillet installation";
        }
        return "";
    }

private:
    void RunRow(const Row &row)
    {
        bool started = false;
        bool backdrop = false;
        std::function<void(const MSG &)> rowHook = onMessage;
        onMessage = [&](const MSG &msg) {
            if (msg.message == WM_INSTALL_START && !started) {
                started = true;
                backdrop = State.BackgroundBitmap != NULL;
            }
            if (rowHook)
                rowHook(msg);
        };

        int exitCode = -1;
        try {
            exitCode = Run(row.arguments);
        } catch (const sim::SimFailure &failure) {
            ADD_FAILURE() << "the run stopped: " << failure.what();
            return;
        }

        int expected = row.exitCode;
        if (expected == EXIT_OF_OUTCOME) {
            UINT report = row.boxes.empty() ? 0 : row.boxes.back().id;
            expected = report == IDS_REPORT_DONE_S        ? ERROR_SUCCESS
                       : report == IDS_REPORT_FAILED_S    ? ERROR_INSTALL_FAILURE
                       : report == IDS_REPORT_ABANDONED_S ? ERROR_INSTALL_USEREXIT
                       : started                          ? ERROR_INSTALL_USEREXIT
                                                          : ERROR_INSTALL_FAILURE;
        }
        EXPECT_EQ(exitCode, expected);
        CheckBoxes(row.boxes);
        EXPECT_EQ(State.FailureCount, row.failures);
        CheckSteps(row);
        EXPECT_FALSE(badParameters);
        EXPECT_FALSE(twoStepsPending);
        if (started)
            EXPECT_EQ(backdrop, row.backdrop) << "background bitmap";
        else
            EXPECT_EQ(sim::MainWindowOfClass(Text(IDS_CLASS_NAME)), (HWND)NULL);
        // Without a window, start-up gives back its class as well.
        if (!started)
            EXPECT_EQ(sim::RegisteredClasses(), 0);

        // The configuration file goes after a clean report only.
        bool reportedDone =
            !sim::MessageBoxes().empty() && sim::MessageBoxes().back().text == Text(IDS_REPORT_DONE_S, "Quillet");
        EXPECT_EQ(FileExists(CONFIGURATION), !(reportedDone && row.configurationDeleted)) << "Quillet.cfg";

        if (row.check)
            row.check();
        ExpectNothingHeld();
    }

    void CheckBoxes(const std::vector<Box> &expected)
    {
        const std::vector<sim::MessageBoxRecord> &boxes = sim::MessageBoxes();
        EXPECT_EQ(boxes.size(), expected.size());
        for (size_t i = 0; i < std::min(boxes.size(), expected.size()); i++) {
            SCOPED_TRACE("message box " + std::to_string(i + 1) + ": " + boxes[i].text);
            const Box &want = expected[i];
            EXPECT_EQ(boxes[i].text, Text(want.id, want.argument));
            EXPECT_EQ(boxes[i].type, want.type);
            EXPECT_EQ(boxes[i].caption, CaptionText(want.caption));
            if (want.owner == Owner::None) {
                EXPECT_EQ(boxes[i].owner, (HWND)NULL);
            } else {
                EXPECT_NE(mainWindow, (HWND)NULL);
                EXPECT_EQ(boxes[i].owner, mainWindow);
            }
        }
    }

    void CheckSteps(const Row &row)
    {
        Steps steps = PostedSteps();
        switch (row.match) {
        case Match::Exact:
            EXPECT_EQ(steps, row.steps);
            break;
        case Match::Tail:
            ASSERT_GE(steps.size(), row.steps.size()) << ::testing::PrintToString(steps);
            EXPECT_EQ(Steps(steps.end() - row.steps.size(), steps.end()), row.steps);
            break;
        }
    }
};

// ---- Start-up and the script reader: before the window, no owner --------------------------------

TEST_F(FailureMatrixTest, StartUp)
{
    std::vector<Row> rows = {
        { "catalogue 1 / start-up 1 / script reader 1: the script cannot be opened", nullptr,
          [] { sim::FailOpen("DIST\\SETUP.inf", ERROR_SHARING_VIOLATION); },
          { StartupBox(IDS_CANNOT_OPEN_S, SCRIPT, ERROR_OK) }, 0, {}, Match::Exact },
        { "catalogue 2 / start-up 2 / script reader 2: no memory for the script", nullptr,
          [] { sim::FailGlobalAlloc(1); },
          { StartupBox(IDS_NO_MEMORY_S, "FileRead", ERROR_OK) }, 0, {}, Match::Exact },
        { "catalogue 3 / start-up 3 / script reader 3: the script's memory cannot be locked", nullptr,
          [] { sim::FailGlobalLock(1); },
          { StartupBox(IDS_NO_LOCK_S, "FileRead", ERROR_OK) }, 0, {}, Match::Exact },
        { "catalogue 4 / start-up 4 / script reader 4: reading the script fails", nullptr,
          [] { sim::FailRead("DIST\\SETUP.inf", 0, ERROR_CANTREAD); },
          { StartupBox(IDS_CANNOT_READ_S, SCRIPT, ERROR_OK) }, 0, {}, Match::Exact },
        { "catalogue 4 / start-up 4 / script reader 4: the script delivers fewer bytes than its size", nullptr,
          [] { sim::FailRead("DIST\\SETUP.inf", 100, 0); },
          { StartupBox(IDS_CANNOT_READ_S, SCRIPT, ERROR_OK) }, 0, {}, Match::Exact },
        { "catalogue 4 / script reader (sound behaviour): the script's size cannot be measured", nullptr,
          [] { sim::FailSeek("DIST\\SETUP.inf"); },
          { StartupBox(IDS_CANNOT_READ_S, SCRIPT, ERROR_OK) }, 0, {}, Match::Exact },
        { "catalogue 5 / start-up 5 / script reader 5: no [Install] section",
          [](std::string) { return std::string("[Files]\r\nEditor=Quillet.exe\r\n"); }, nullptr,
          { StartupBox(IDS_NO_SECTION_S, "Install", INFORMATION_OK) }, 0, {}, Match::Exact },
        { "catalogue 5 / start-up 6 / script reader 5: no [Files] section", Replacing("[Files]", "[Filez]"), nullptr,
          { StartupBox(IDS_NO_SECTION_S, "Files", INFORMATION_OK) }, 0, {}, Match::Exact },
        { "catalogue 6 / start-up 7: two [Files] sources cannot be opened, each warned and counted at start-up and "
          "again while copying",
          nullptr,
          [] {
              sim::FailOpen("DIST\\Quillet.hlp");
              sim::FailOpen("DIST\\readme.txt");
          },
          { StartupBox(IDS_CANNOT_OPEN_S, "C:\\DIST\\Quillet.hlp", INFORMATION_OK),
            StartupBox(IDS_CANNOT_OPEN_S, "C:\\DIST\\readme.txt", INFORMATION_OK), QUESTION, FAILED_REPORT },
          4,
          // Neither missing source costs a chunk step.
          { START, NEXT, NEXT, CHUNK, CHUNK, CHUNK, NEXT, NEXT, NEXT, CHUNK, CHUNK, NEXT, NEXT, DONE, SHORTCUTS,
            REGISTER },
          Match::Exact, true, true,
          [] {
              EXPECT_EQ(State.TotalBytes, 20000 + 8192);
              EXPECT_TRUE(FileExists(TARGET + "\\Quillet.exe"));
              EXPECT_FALSE(FileExists(TARGET + "\\readme.txt"));
              EXPECT_EQ(sim::Links().size(), 3u);
          } },
        { "start-up 8: the main window cannot be created", nullptr, [] { sim::FailCreateWindow(); }, {}, 0, {},
          Match::Exact, true, true, nullptr },
    };
    RunRows(rows);
}

// ---- The background bitmap: shown at window creation, owned by the window, never counted ---------

TEST_F(FailureMatrixTest, BackgroundBitmap)
{
    // The window goes on without a backdrop; nothing is counted, so the report is still message 5.
    auto withoutBitmap = [](const std::string &name, std::function<void()> arrange, const Box &box) {
        return Row{ name, nullptr, arrange, { box, QUESTION, DONE_REPORT }, 0, COMPLETED, Match::Tail, false };
    };
    // A name that, behind the installer's directory, no longer fits the 128 characters of the path.
    const std::string longName = std::string(125, 'b') + ".bmp";
    std::vector<Row> rows = {
        withoutBitmap("catalogue 7 / background: the bitmap file cannot be opened",
                      [] { sim::FailOpen("DIST\\setup.bmp", ERROR_ACCESS_DENIED); },
                      WindowBox(IDS_CANNOT_OPEN_S, BITMAP, ERROR_OK)),
        withoutBitmap("catalogue 8 / background: the file header cannot be read",
                      [] { sim::FailRead("DIST\\setup.bmp", 0, ERROR_CANTREAD); },
                      WindowBox(IDS_CANNOT_READ_S, BITMAP, ERROR_OK)),
        withoutBitmap("catalogue 8 / background: the file header comes short",
                      [] { sim::FailRead("DIST\\setup.bmp", 10, 0); }, WindowBox(IDS_CANNOT_READ_S, BITMAP, ERROR_OK)),
        withoutBitmap("catalogue 8 / background: the information header and colour table cannot be read",
                      [] { sim::FailRead("DIST\\setup.bmp", 14, ERROR_CANTREAD); },
                      WindowBox(IDS_CANNOT_READ_S, BITMAP, ERROR_OK)),
        withoutBitmap("catalogue 8 / background: the pixels cannot be read",
                      [] { sim::FailRead("DIST\\setup.bmp", 54, ERROR_CANTREAD); },
                      WindowBox(IDS_CANNOT_READ_S, BITMAP, ERROR_OK)),
        withoutBitmap("catalogue 8 / background: the pixels come short",
                      [] { sim::FailRead("DIST\\setup.bmp", 1000, 0); },
                      WindowBox(IDS_CANNOT_READ_S, BITMAP, ERROR_OK)),
        withoutBitmap("catalogue 8 / background: the file ends before the pixels its header announces",
                      [] { sim::PutFile(BITMAP, MakeBitmapFile(64, 48, RGB(10, 120, 200)).substr(0, 154)); },
                      WindowBox(IDS_CANNOT_READ_S, BITMAP, ERROR_OK)),
        withoutBitmap("catalogue 8 / background (sound behaviour): the bitmap's size cannot be measured",
                      [] { sim::FailSeek("DIST\\setup.bmp"); }, WindowBox(IDS_CANNOT_READ_S, BITMAP, ERROR_OK)),
        // The script's block is the first GlobalAlloc and GlobalLock; the loader's are the second and third.
        withoutBitmap("catalogue 9 / background: the block of the header and colour table cannot be allocated",
                      [] { sim::FailGlobalAlloc(2); }, WindowBox(IDS_NO_MEMORY_S, "GetBitmap", ERROR_OK)),
        withoutBitmap("catalogue 9 / background: the block of the pixels cannot be allocated",
                      [] { sim::FailGlobalAlloc(3); }, WindowBox(IDS_NO_MEMORY_S, "GetBitmap", ERROR_OK)),
        withoutBitmap("catalogue 10 / background: the block of the header and colour table cannot be locked",
                      [] { sim::FailGlobalLock(2); }, WindowBox(IDS_NO_LOCK_S, "GetBitmap", ERROR_OK)),
        withoutBitmap("catalogue 10 / background: the block of the pixels cannot be locked",
                      [] { sim::FailGlobalLock(3); }, WindowBox(IDS_NO_LOCK_S, "GetBitmap", ERROR_OK)),
        // biPlanes 0: the loader hands the file over, the platform makes nothing of it.
        withoutBitmap("catalogue 11 / background: the platform cannot create the bitmap",
                      [] { sim::PutFile(BITMAP, PatchedBitmap(14 + 12, std::string(2, '\0'))); },
                      WindowBox(IDS_NO_BITMAP_S, BITMAP, INFORMATION_OK)),
        // biWidth 0: no bitmap can come from it, and its tiles would never advance.
        withoutBitmap("catalogue 11 / background: a header that describes no bitmap",
                      [] { sim::PutFile(BITMAP, PatchedBitmap(14 + 4, std::string(4, '\0'))); },
                      WindowBox(IDS_NO_BITMAP_S, BITMAP, INFORMATION_OK)),
    };
    Row tooLong = withoutBitmap("catalogue 7 / background (sound behaviour): the bitmap path does not fit its buffer",
                                nullptr,
                                WindowBox(IDS_CANNOT_OPEN_S, ("C:\\DIST\\" + longName).substr(0, 127), ERROR_OK));
    tooLong.script = Replacing("Bitmap=setup.bmp", "Bitmap=" + longName);
    rows.push_back(tooLong);
    RunRows(rows);
}

// ---- A packed installer: the distribution carried in one file, checked before it is used --------

const char PACKED[] = "C:\\Downloads\\Quillet-setup (1).exe";

// The example distribution packed into one file, named as a browser names a second download, with
// `change` made to its bytes, and the installer started from it. Beside it lie the script its name
// would call for and a file that script lists, and the folder it was packed from is out of reach:
// the run may read neither.
void UsePackedInstaller(const std::function<void(std::string &)> &change = nullptr)
{
    sim::PutFile("C:\\DIST\\setup.exe", pe::MinimalImage());
    sim::PutFile("C:\\Downloads\\Quillet-setup (1).inf",
                 "[Install]\r\nApplication=Other\r\n[Files]\r\nOther=other.txt\r\n");
    sim::PutFile("C:\\Downloads\\other.txt", "another distribution's file");
    PackOutcome outcome = PackDistribution(sim::HostPath("C:\\DIST"), sim::HostPath(PACKED));
    ASSERT_EQ(outcome.ExitCode, PACK_DONE) << (outcome.Refusals.empty() ? "" : outcome.Refusals[0]);
    if (change) {
        std::string bytes = *sim::GetFile(PACKED);
        change(bytes);
        sim::PutFile(PACKED, bytes);
    }
    sim::SetModulePath(PACKED);
    sim::FailOpen("C:\\DIST\\");
    sim::FailOpen("C:\\Downloads\\Quillet-setup (1).inf");
    sim::FailOpen("C:\\Downloads\\other.txt");
}

// The first packed byte of the entry named `name`, in the packed file's `bytes`.
size_t EntryDataAt(const std::string &bytes, const std::string &name)
{
    size_t record = pe::IMAGE_SIZE + PAYLOAD_HEADER_SIZE;
    for (uint32_t i = 0; i < pe::GetLong(bytes, pe::IMAGE_SIZE + PAYLOAD_COUNT_AT); i++) {
        size_t length = (unsigned char)bytes[record + PAYLOAD_RECORD_NAME_LENGTH_AT];
        if (bytes.compare(record + PAYLOAD_RECORD_FIXED_SIZE, length, name) == 0)
            return pe::IMAGE_SIZE + pe::GetLong(bytes, record + PAYLOAD_RECORD_OFFSET_AT);
        record += PAYLOAD_RECORD_FIXED_SIZE + length;
    }
    ADD_FAILURE() << name << " is not packed";
    return 0;
}

// Nothing was written anywhere: no file opened for writing, moved or deleted, no directory, no value.
void ExpectNothingWritten()
{
    for (const sim::JournalEntry &entry : sim::Journal()) {
        bool wrote = (entry.kind == sim::JournalEntry::FileOpened && (entry.type & GENERIC_WRITE)) ||
                     entry.kind == sim::JournalEntry::DirectoryCreated ||
                     entry.kind == sim::JournalEntry::FileMoved || entry.kind == sim::JournalEntry::FileDeleted ||
                     entry.kind == sim::JournalEntry::RegistryValueSet;
        EXPECT_FALSE(wrote) << entry.path;
    }
}

// The example's bitmap with pixels that deflate cannot shrink, so that it is stored as it is, and
// bytes after its pixels that the loader never needs.
std::string NoisyBitmapWithTail()
{
    std::string file = MakeBitmapFile(64, 48, RGB(10, 120, 200));
    uint32_t seed = 7;
    for (size_t at = 54; at < file.size(); at++) {
        seed = seed * 1103515245u + 12345u;
        file[at] = (char)(seed >> 23);
    }
    return file + std::string(100, 't');
}

TEST_F(FailureMatrixTest, PackedInstaller)
{
    const std::string entry = std::string(PACKED) + "\\";
    auto flip = [](const std::string &name, size_t offset) {
        return [name, offset](std::string &bytes) { bytes[EntryDataAt(bytes, name) + offset] ^= 0x55; };
    };
    auto startupStop = [](const std::string &name, std::function<void()> arrange, const Box &box) {
        return Row{ name, nullptr, arrange, { box }, 0, {}, Match::Exact, true, true, ExpectNothingWritten };
    };
    std::vector<Row> rows = {
        { "payload (sound behaviour): a clean reinstall from one renamed file: its entries' bytes and times, "
          "the sizes from its directory, its backdrop",
          nullptr,
          [] {
              LayOutOldInstallation();
              UsePackedInstaller();
          },
          SILENT, 0, CLEAN_STEPS, Match::Exact, true, true,
          [] {
              EXPECT_EQ(Installation(), "NNNN");
              EXPECT_EQ(State.TotalBytes, 20000 + 9 + 16 + 8192);
          } },
        startupStop("payload (sound behaviour): cut short: the installer is damaged, nothing written, no window",
                    [] { UsePackedInstaller([](std::string &bytes) { bytes.resize(bytes.size() - 10); }); },
                    StartupBox(IDS_INSTALLER_DAMAGED_S, PACKED, ERROR_OK)),
        startupStop("payload (sound behaviour): its script altered: the installer is damaged, nothing written",
                    [&] { UsePackedInstaller(flip("setup.inf", 5)); },
                    StartupBox(IDS_INSTALLER_DAMAGED_S, PACKED, ERROR_OK)),
        startupStop("payload: no block for its directory", [] {
                        UsePackedInstaller();
                        sim::FailGlobalAlloc(1);
                    },
                    StartupBox(IDS_NO_MEMORY_S, "FileRead", ERROR_OK)),
        { "payload (sound behaviour, silent): cut short: no box, the log says it, nothing written", nullptr,
          [] { UsePackedInstaller([](std::string &bytes) { bytes.resize(bytes.size() - 10); }); }, {}, 0, {},
          Match::Exact, true, true,
          [] {
              std::string log = sim::GetFile("C:\\setup.log").value_or("");
              EXPECT_NE(log.find("Payload damaged: " + std::string(PACKED)), std::string::npos) << log;
              EXPECT_NE(log.find("not shown (silent run)"), std::string::npos) << log;
              std::vector<sim::JournalEntry> journal = sim::Journal();
              // The log is the caller's: the one file the run may write.
              for (const sim::JournalEntry &entry : journal) {
                  if (entry.path != "C:\\setup.log")
                      EXPECT_FALSE(entry.kind == sim::JournalEntry::FileOpened && (entry.type & GENERIC_WRITE))
                          << entry.path;
              }
          },
          ERROR_INSTALL_FAILURE, "/S /LOG=C:\\setup.log" },
        { "catalogue 15 / copy engine 4 (sound behaviour): an entry altered inside its deflate data: given up "
          "before it takes the old file's place",
          nullptr,
          [&] {
              LayOutOldInstallation();
              UsePackedInstaller(flip("Quillet.exe", 5));
          },
          { WindowBox(IDS_CANNOT_READ_S, entry + "Quillet.exe", ERROR_OK), QUESTION, FAILED_REPORT }, 1, COMPLETED,
          Match::Tail, true, true, [] { EXPECT_EQ(Installation(), "ONNN"); } },
        { "catalogue 8 / background (sound behaviour): the backdrop's entry altered in its pixels, which the "
          "loader reads before the entry's end: refused, not shown, not counted",
          nullptr,
          [&] {
              sim::PutFile(BITMAP, NoisyBitmapWithTail());
              UsePackedInstaller(flip("setup.bmp", 1000));
          },
          { WindowBox(IDS_CANNOT_READ_S, entry + "setup.bmp", ERROR_OK), QUESTION, DONE_REPORT }, 0, CLEAN_STEPS,
          Match::Exact, false },
    };
    RunRows(rows);
}

// ---- The sequencer: the report, the configuration file, the ways a run ends --------------------

TEST_F(FailureMatrixTest, Sequencer)
{
    HANDLE heldConfiguration = INVALID_HANDLE_VALUE;
    int chunks = 0;
    std::vector<Row> rows = {
        { "catalogue 18 (Yes) / catalogue 19 (5) / directory chain 3: a clean run; directories that exist are "
          "passed over",
          nullptr, nullptr, SILENT, 0, CLEAN_STEPS, Match::Exact, true, true,
          [] {
              EXPECT_EQ(sim::GetFile(TARGET + "\\help\\Quillet.hlp"), std::string("help text"));
              EXPECT_EQ(YesEntries(), "1111111");
              EXPECT_EQ(sim::Links().size(), 3u);
          } },
        { "catalogue 12 / sequencer 2: [Files] missing when the installation starts (reached only by renaming the "
          "section in memory: the script cannot change between the two looks)",
          nullptr,
          [this] {
              onDirectory = [](HWND dialog) {
                  State.FilesSection[0] = 'X';
                  sim::PressButton(dialog, IDC_DIRECTORY_INSTALL);
              };
          },
          { WindowBox(IDS_NO_SECTION_S, "Xiles", INFORMATION_OK), FAILED_REPORT }, 1, { START, FINISH }, Match::Exact,
          true, true,
          [] {
              EXPECT_EQ(DialogsOpened("COPY"), 0);
              EXPECT_FALSE(HasValue(HKEY_LOCAL_MACHINE, APP_PATH_KEY, ""));
          } },
        { "sequencer: the directory dialog is cancelled: no report, nothing copied", nullptr,
          [this] { onDirectory = [](HWND dialog) { sim::PressButton(dialog, IDC_DIRECTORY_CANCEL); }; }, {}, 0,
          { START }, Match::Exact, true, true,
          [] {
              EXPECT_FALSE(sim::DirectoryExists(TARGET));
              EXPECT_EQ(DialogsOpened("COPY"), 0);
          } },
        { "catalogue 19 (7) / copy engine 6 / sequencer 3: the copy is cancelled in the copy dialog", nullptr,
          [this, &chunks] {
              chunks = 0;
              onMessage = [&chunks](const MSG &msg) {
                  if (msg.message == WM_COPY_CHUNK && ++chunks == 2)
                      sim::PressButton(State.CopyDialog, IDC_COPY_CANCEL);
              };
          },
          { ABANDONED_REPORT }, 1, { START, NEXT, NEXT, CHUNK, CHUNK, CHUNK, DONE, FINISH }, Match::Exact, true, true,
          [] {
              // The file being copied is not made; no shortcut, no registry entry.
              EXPECT_EQ(Installation(), "AAAA");
              EXPECT_TRUE(sim::Links().empty());
              EXPECT_EQ(YesEntries(), "0000000");
              EXPECT_EQ(DialogsOpened("COPY"), 1);
              EXPECT_EQ(sim::FindWindowByTemplate("Copy"), (HWND)NULL);
          } },
        { "catalogue 19 (7 over 6) / sequencer 1, 3: a cancel wins over failures", nullptr,
          [this, &chunks] {
              sim::FailOpen("DIST\\Quillet.hlp");
              chunks = 0;
              onMessage = [&chunks](const MSG &msg) {
                  if (msg.message == WM_COPY_CHUNK && ++chunks == 2)
                      sim::PressButton(State.CopyDialog, IDC_COPY_CANCEL);
              };
          },
          { StartupBox(IDS_CANNOT_OPEN_S, "C:\\DIST\\Quillet.hlp", INFORMATION_OK), ABANDONED_REPORT }, 2,
          { CHUNK, DONE, FINISH } },
        { "copy engine 6: a cancel between two files takes effect once the next entry's files are open", nullptr,
          [this] {
              onMessage = [](const MSG &msg) {
                  // Taken before its step runs: the click waits behind the step's own work.
                  if (msg.message == WM_COPY_NEXT_FILE && std::string(State.EntryKey) == "Editor")
                      sim::PressButton(State.CopyDialog, IDC_COPY_CANCEL);
              };
          },
          { ABANDONED_REPORT }, 1,
          { START, NEXT, NEXT, CHUNK, CHUNK, CHUNK, NEXT, CHUNK, DONE, FINISH }, Match::Exact, true, true,
          [] {
              // The help file's files were opened, but it is not made.
              EXPECT_EQ(Installation(), "NAAA");
          } },
        { "sequencer 5 (silent): Quillet.cfg cannot be deleted, the editor holds it open", nullptr,
          [&heldConfiguration] {
              heldConfiguration =
                  CreateFileA(CONFIGURATION, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
              ASSERT_NE(heldConfiguration, INVALID_HANDLE_VALUE);
          },
          SILENT, 0, COMPLETED, Match::Tail, true, false,
          [&heldConfiguration] {
              EXPECT_EQ(sim::GetFile(CONFIGURATION), std::string("settings"));
              CloseHandle(heldConfiguration);
          } },
        { "sequencer 5 (silent): there is no Quillet.cfg to delete", nullptr,
          [] { remove(sim::HostPath(CONFIGURATION).c_str()); }, SILENT, 0, CLEAN_STEPS, Match::Exact },
        // Posted messages are taken before input, and the copy engine always has its next step posted:
        // the loop takes input first, or the click would wait until the chain ends and be lost when the
        // question box disables the window.
        { "sequencer: the close box clicked while a file is copied ends the run before the next step", nullptr,
          [this, &chunks] {
              chunks = 0;
              onMessage = [this, &chunks](const MSG &msg) {
                  if (msg.message == WM_COPY_CHUNK && ++chunks == 2)
                      sim::ClickCloseBox(mainWindow);
              };
          },
          {}, 0, { START, NEXT, NEXT, CHUNK, CHUNK, CHUNK }, Match::Exact, true, true,
          [] {
              EXPECT_EQ(Installation(), "AAAA");
              EXPECT_EQ(YesEntries(), "0000000");
              EXPECT_EQ(sim::MainWindowOfClass(Text(IDS_CLASS_NAME)), (HWND)NULL);
          } },
    };
    RunRows(rows);
}

// ---- The copy engine and the directory chain ------------------------------------------------------

TEST_F(FailureMatrixTest, CopyEngine)
{
    auto cancelPrompt = [this] {
        onBox = [](const sim::MessageBoxRecord &box) {
            return box.type == ERROR_OK_CANCEL ? IDCANCEL : (box.type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
        };
    };
    // With a backslash and "Unquil.exe" this Windows directory no longer fits a path of 259 characters.
    const std::string longWindows = "C:\\" + std::string(250, 'w');
    std::vector<Row> rows = {
        { "copy engine 1: a source that opened at start-up cannot be opened for copying: no message", nullptr,
          [this] {
              onMessage = [](const MSG &msg) {
                  if (msg.message == WM_INSTALL_START)
                      sim::FailOpen("DIST\\readme.txt", ERROR_SHARING_VIOLATION);
              };
          },
          { QUESTION, FAILED_REPORT }, 1,
          { START, NEXT, NEXT, CHUNK, CHUNK, CHUNK, NEXT, CHUNK, NEXT, NEXT, CHUNK, CHUNK, NEXT, NEXT, DONE, SHORTCUTS,
            REGISTER },
          Match::Exact, true, true, [] { EXPECT_FALSE(FileExists(TARGET + "\\readme.txt")); } },
        { "catalogue 13 / copy engine 2 / directory chain 1: a directory cannot be created; the deeper one is not "
          "tried and the file cannot be opened",
          Replacing("Help=help\\Quillet.hlp", "Help=help\\deep\\Quillet.hlp"),
          [] { sim::FailCreateDirectory("Quillet\\help", ERROR_WRITE_PROTECT); },
          { WindowBox(IDS_CANNOT_CREATE_S, TARGET + "\\help", ERROR_OK),
            WindowBox(IDS_CANNOT_OPEN_S, TARGET + "\\help\\deep\\Quillet.hlp", ERROR_OK_CANCEL), QUESTION,
            FAILED_REPORT },
          1,
          // The help entry costs no chunk; its failure goes on with the next entry.
          { START, NEXT, NEXT, CHUNK, CHUNK, CHUNK, NEXT, NEXT, CHUNK, NEXT, CHUNK, CHUNK, NEXT, NEXT, DONE, SHORTCUTS,
            REGISTER },
          Match::Exact, true, true,
          [] {
              const std::vector<std::string> &calls = sim::CreateDirectoryCalls();
              EXPECT_EQ(std::count(calls.begin(), calls.end(), TARGET + "\\help\\deep"), 0);
              EXPECT_TRUE(FileExists(TARGET + "\\readme.txt"));
          } },
        { "catalogue 13 / copy engine 2: a directory cannot be created but is there, so the file is still copied "
          "and nothing is counted",
          nullptr,
          [] {
              sim::PutFile(TARGET + "\\help\\placeholder", "");
              sim::FailCreateDirectory("Quillet\\help", ERROR_WRITE_PROTECT);
          },
          { WindowBox(IDS_CANNOT_CREATE_S, TARGET + "\\help", ERROR_OK), QUESTION, DONE_REPORT }, 0, CLEAN_STEPS,
          Match::Exact, true, true,
          [] { EXPECT_EQ(sim::GetFile(TARGET + "\\help\\Quillet.hlp"), std::string("help text")); } },
        { "directory chain 2 (silent): access denied on a directory is passed over", nullptr,
          [] {
              sim::PutFile("C:\\Program Files\\placeholder", "");
              sim::FailCreateDirectory("C:\\Program Files", ERROR_ACCESS_DENIED, 1);
          },
          SILENT, 0, CLEAN_STEPS, Match::Exact, true, true,
          [] { EXPECT_TRUE(FileExists(TARGET + "\\Quillet.exe")); } },
        { "catalogue 14 / copy engine 3: the destination cannot be opened, answer OK: the next entry", nullptr,
          [] { sim::FailOpen("Program Files\\Quillet\\Quillet.exe", ERROR_ACCESS_DENIED); },
          { WindowBox(IDS_CANNOT_OPEN_S, TARGET + "\\Quillet.exe", ERROR_OK_CANCEL), QUESTION, FAILED_REPORT }, 1,
          { START, NEXT, NEXT, NEXT, CHUNK, NEXT, CHUNK, NEXT, CHUNK, CHUNK, NEXT, NEXT, DONE, SHORTCUTS, REGISTER },
          Match::Exact, true, true,
          [] {
              EXPECT_FALSE(FileExists(TARGET + "\\Quillet.exe"));
              EXPECT_TRUE(FileExists(TARGET + "\\readme.txt"));
          } },
        { "catalogue 14 / copy engine 3 / sequencer 4: the destination cannot be opened, answer Cancel: straight "
          "to the report, the copy dialog stays",
          nullptr,
          [cancelPrompt] {
              sim::FailOpen("Program Files\\Quillet\\Quillet.exe", ERROR_ACCESS_DENIED);
              cancelPrompt();
          },
          { WindowBox(IDS_CANNOT_OPEN_S, TARGET + "\\Quillet.exe", ERROR_OK_CANCEL), FAILED_REPORT }, 1,
          { START, NEXT, NEXT, FINISH }, Match::Exact, true, true,
          [] {
              EXPECT_NE(sim::FindWindowByTemplate("Copy"), (HWND)NULL);
              EXPECT_FALSE(FileExists(TARGET + "\\readme.txt"));
              EXPECT_TRUE(sim::Links().empty());
              EXPECT_EQ(YesEntries(), "0000000");
          } },
        { "catalogue 14 / copy engine 3: a destination in the Windows directory fails both attempts", nullptr,
          [] { sim::FailOpen("WINDOWS\\Unquil.exe", ERROR_SHARING_VIOLATION, 2); },
          { WindowBox(IDS_CANNOT_OPEN_S, "C:\\WINDOWS\\Unquil.exe", ERROR_OK_CANCEL), QUESTION, FAILED_REPORT }, 1,
          { NEXT, NEXT, NEXT, DONE, SHORTCUTS, REGISTER }, Match::Tail, true, true,
          [] { EXPECT_FALSE(FileExists("C:\\WINDOWS\\Unquil.exe")); } },
        { "copy engine 3 (silent): a destination in the Windows directory that fails once opens at the second "
          "attempt",
          nullptr, [] { sim::FailOpen("WINDOWS\\Unquil.exe", ERROR_SHARING_VIOLATION, 1); }, SILENT, 0, CLEAN_STEPS,
          Match::Exact, true, true,
          [] { EXPECT_EQ(sim::GetFile("C:\\WINDOWS\\Unquil.exe"), std::string(8192, 'U')); } },
        { "catalogue 14 / copy engine 3 (sound behaviour): a Windows-directory destination whose path does not "
          "fit is never opened",
          nullptr,
          [longWindows] {
              sim::SetWindowsDirectory(longWindows);
              sim::PutFile(longWindows + "\\placeholder", "");
          },
          { WindowBox(IDS_CANNOT_OPEN_S, (longWindows + "\\Unquil.exe").substr(0, 259), ERROR_OK_CANCEL), QUESTION,
            FAILED_REPORT },
          // The installation record, kept there too, cannot be written either.
          2, { NEXT, NEXT, NEXT, DONE, SHORTCUTS, REGISTER }, Match::Tail, true, true,
          [longWindows] {
              EXPECT_FALSE(FileExists((longWindows + "\\Unquil.exe").substr(0, 259)));
              EXPECT_FALSE(FileExists(longWindows + "\\Unquil.exe"));
          } },
        { "catalogue 13 / catalogue 14: the user chooses a drive that does not exist: every entry below it is "
          "shown twice and counted once",
          nullptr,
          [this] {
              onDirectory = [](HWND dialog) {
                  sim::TypeText(dialog, IDC_DIRECTORY_EDIT, "Q:\\Quillet");
                  sim::PressButton(dialog, IDC_DIRECTORY_INSTALL);
              };
          },
          { WindowBox(IDS_CANNOT_CREATE_S, "Q:\\Quillet", ERROR_OK),
            WindowBox(IDS_CANNOT_OPEN_S, "Q:\\Quillet\\Quillet.exe", ERROR_OK_CANCEL),
            WindowBox(IDS_CANNOT_CREATE_S, "Q:\\Quillet", ERROR_OK),
            WindowBox(IDS_CANNOT_OPEN_S, "Q:\\Quillet\\help\\Quillet.hlp", ERROR_OK_CANCEL),
            WindowBox(IDS_CANNOT_CREATE_S, "Q:\\Quillet", ERROR_OK),
            WindowBox(IDS_CANNOT_OPEN_S, "Q:\\Quillet\\readme.txt", ERROR_OK_CANCEL), QUESTION, FAILED_REPORT },
          3, { START, NEXT, NEXT, NEXT, NEXT, NEXT, CHUNK, CHUNK, NEXT, NEXT, DONE, SHORTCUTS, REGISTER },
          Match::Exact, true, true,
          [] {
              EXPECT_EQ(sim::GetFile("C:\\WINDOWS\\Unquil.exe"), std::string(8192, 'U'));
              EXPECT_EQ(TextValue(HKEY_LOCAL_MACHINE, APP_PATH_KEY, ""), "Q:\\Quillet\\Quillet.exe");
          } },
        { "catalogue 15 / copy engine 4: reading a source fails: the next entry", nullptr,
          [] { sim::FailRead("DIST\\Quillet.exe", 8192, ERROR_CANTREAD); },
          { WindowBox(IDS_CANNOT_READ_S, "C:\\DIST\\Quillet.exe", ERROR_OK), QUESTION, FAILED_REPORT }, 1,
          { START, NEXT, NEXT, CHUNK, CHUNK, NEXT, CHUNK, NEXT, CHUNK, NEXT, CHUNK, CHUNK, NEXT, NEXT, DONE, SHORTCUTS,
            REGISTER },
          Match::Exact, true, true,
          [] { EXPECT_EQ(Installation(), "ANNN"); } },
        { "catalogue 16 / copy engine 5: writing a destination fails: the next entry", nullptr,
          [] { sim::FailWrite("Program Files\\Quillet\\Quillet.exe", 10000, ERROR_DISK_FULL); },
          { WindowBox(IDS_CANNOT_WRITE_S, TARGET + "\\Quillet.exe", ERROR_OK), QUESTION, FAILED_REPORT }, 1,
          { START, NEXT, NEXT, CHUNK, CHUNK, NEXT, CHUNK, NEXT, CHUNK, NEXT, CHUNK, CHUNK, NEXT, NEXT, DONE, SHORTCUTS,
            REGISTER },
          Match::Exact, true, true,
          [] { EXPECT_EQ(Installation(), "ANNN"); } },
    };
    RunRows(rows);
}

// ---- Reinstalling over an earlier installation: every destination old or new, never torn --------

TEST_F(FailureMatrixTest, Reinstall)
{
    HANDLE runningEditor = INVALID_HANDLE_VALUE;
    int chunks = 0;
    auto cancelAtChunk = [this, &chunks](int nth) {
        chunks = 0;
        onMessage = [&chunks, nth](const MSG &msg) {
            if (msg.message == WM_COPY_CHUNK && ++chunks == nth)
                sim::PressButton(State.CopyDialog, IDC_COPY_CANCEL);
        };
    };
    const Box cannotWrite = WindowBox(IDS_CANNOT_WRITE_S, TARGET + "\\Quillet.exe", ERROR_OK);
    // The editor's entry fails after its chunks; the others are copied.
    const Steps failedAfterChunks = { START, NEXT, NEXT, CHUNK, CHUNK, NEXT, CHUNK, NEXT, CHUNK, NEXT, CHUNK, CHUNK,
                                      NEXT, NEXT, DONE, SHORTCUTS, REGISTER };
    const Steps notOpened = { START, NEXT, NEXT, NEXT, CHUNK, NEXT, CHUNK, NEXT, CHUNK, CHUNK, NEXT, NEXT, DONE,
                              SHORTCUTS, REGISTER };
    std::vector<Row> rows = {
        { "copy engine (sound behaviour): a reinstall gives every file its new bytes and times, shorter or longer",
          nullptr, LayOutOldInstallation, SILENT, 0, CLEAN_STEPS, Match::Exact, true, true,
          [] { EXPECT_EQ(Installation(), "NNNN"); } },
        { "catalogue 19 (7) / copy engine 6 (sound behaviour): a reinstall cancelled in the editor's file leaves "
          "the old one",
          nullptr,
          [&] {
              LayOutOldInstallation();
              cancelAtChunk(2);
          },
          { ABANDONED_REPORT }, 1, { START, NEXT, NEXT, CHUNK, CHUNK, CHUNK, DONE, FINISH }, Match::Exact, true, true,
          [] { EXPECT_EQ(Installation(), "OOOO"); } },
        { "catalogue 19 (7) / copy engine 6 (sound behaviour): a cancel between two files leaves the next one old",
          nullptr,
          [&] {
              LayOutOldInstallation();
              onMessage = [](const MSG &msg) {
                  if (msg.message == WM_COPY_NEXT_FILE && std::string(State.EntryKey) == "Editor")
                      sim::PressButton(State.CopyDialog, IDC_COPY_CANCEL);
              };
          },
          { ABANDONED_REPORT }, 1, { START, NEXT, NEXT, CHUNK, CHUNK, CHUNK, NEXT, CHUNK, DONE, FINISH }, Match::Exact,
          true, true, [] { EXPECT_EQ(Installation(), "NOOO"); } },
        { "catalogue 15 / copy engine 4 (sound behaviour): a read error leaves the old file", nullptr,
          [] {
              LayOutOldInstallation();
              sim::FailRead("DIST\\Quillet.exe", 8192, ERROR_CANTREAD);
          },
          { WindowBox(IDS_CANNOT_READ_S, "C:\\DIST\\Quillet.exe", ERROR_OK), QUESTION, FAILED_REPORT }, 1,
          failedAfterChunks, Match::Exact, true, true, [] { EXPECT_EQ(Installation(), "ONNN"); } },
        { "catalogue 16 / copy engine 5 (sound behaviour): a full disk leaves the old file", nullptr,
          [] {
              LayOutOldInstallation();
              sim::FailWrite("Program Files\\Quillet\\Quillet.exe", 10000, ERROR_DISK_FULL);
          },
          { cannotWrite, QUESTION, FAILED_REPORT }, 1, failedAfterChunks, Match::Exact, true, true,
          [] { EXPECT_EQ(Installation(), "ONNN"); } },
        { "catalogue 16 (sound behaviour): the complete copy cannot take the old file's place", nullptr,
          [] {
              LayOutOldInstallation();
              sim::FailMove("Quillet\\Quillet.exe", ERROR_ACCESS_DENIED);
          },
          { cannotWrite, QUESTION, FAILED_REPORT }, 1, CLEAN_STEPS, Match::Exact, true, true,
          [] { EXPECT_EQ(Installation(), "ONNN"); } },
        { "catalogue 16 (sound behaviour): the complete copy cannot be flushed to the disk", nullptr,
          [] {
              LayOutOldInstallation();
              sim::FailFlush("Quillet\\Quillet.exe", ERROR_DISK_FULL);
          },
          { cannotWrite, QUESTION, FAILED_REPORT }, 1, CLEAN_STEPS, Match::Exact, true, true,
          [] { EXPECT_EQ(Installation(), "ONNN"); } },
        { "catalogue 14 / copy engine 3: the old editor is held open without delete sharing: shown before any "
          "chunk, answer OK",
          nullptr,
          [&runningEditor] {
              LayOutOldInstallation();
              runningEditor = CreateFileA((TARGET + "\\Quillet.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                                          OPEN_EXISTING, 0, NULL);
          },
          { WindowBox(IDS_CANNOT_OPEN_S, TARGET + "\\Quillet.exe", ERROR_OK_CANCEL), QUESTION, FAILED_REPORT }, 1,
          notOpened, Match::Exact, true, true,
          [&runningEditor] {
              CloseHandle(runningEditor);
              EXPECT_EQ(Installation(), "ONNN");
          } },
        { "copy engine (sound behaviour): the old editor is running: moved aside, its copy takes its place, no box",
          nullptr,
          [] {
              LayOutOldInstallation();
              sim::RunProgram(TARGET + "\\Quillet.exe");
          },
          SILENT, 0, CLEAN_STEPS, Match::Exact, true, true,
          [] {
              EXPECT_EQ(Installation(), "NNNN+aside");
              // The running editor goes on from its old file, which goes at the next restart.
              EXPECT_EQ(sim::GetFile(TARGET + "\\Quillet.exe.~old"), std::string(30000, 'q'));
              EXPECT_EQ(sim::RestartDeletions(), std::vector<std::string>{ TARGET + "\\Quillet.exe.~old" });
          } },
        { "copy engine (sound behaviour): a second upgrade while the editor before the last still runs from its "
          "file moved aside: the next name free, no box",
          nullptr,
          [] {
              LayOutOldInstallation();
              sim::PutFile(TARGET + "\\Quillet.exe.~old", "the editor before the last");
              sim::RunProgram(TARGET + "\\Quillet.exe.~old");
              sim::RunProgram(TARGET + "\\Quillet.exe");
          },
          SILENT, 0, CLEAN_STEPS, Match::Exact, true, true,
          [] {
              EXPECT_EQ(Installation(), "NNNN+aside");
              EXPECT_EQ(sim::GetFile(TARGET + "\\Quillet.exe.~old"), std::string("the editor before the last"));
              EXPECT_EQ(sim::GetFile(TARGET + "\\Quillet.exe.~old2"), std::string(30000, 'q'));
              EXPECT_EQ(sim::RestartDeletions(), std::vector<std::string>{ TARGET + "\\Quillet.exe.~old2" });
          } },
        { "catalogue 14 / copy engine 3: the running editor cannot be moved aside either: shown before any chunk",
          nullptr,
          [] {
              LayOutOldInstallation();
              sim::RunProgram(TARGET + "\\Quillet.exe");
              sim::FailMove("Quillet.exe.~old", ERROR_ACCESS_DENIED);
          },
          { WindowBox(IDS_CANNOT_OPEN_S, TARGET + "\\Quillet.exe", ERROR_OK_CANCEL), QUESTION, FAILED_REPORT }, 1,
          notOpened, Match::Exact, true, true, [] { EXPECT_EQ(Installation(), "ONNN"); } },
        { "catalogue 16 (sound behaviour): the running editor moved aside, its copy cannot move in: put back",
          nullptr,
          [] {
              LayOutOldInstallation();
              sim::RunProgram(TARGET + "\\Quillet.exe");
              sim::FailMove("Quillet.exe.~qs", ERROR_ACCESS_DENIED);
          },
          { cannotWrite, QUESTION, FAILED_REPORT }, 1, CLEAN_STEPS, Match::Exact, true, true,
          [] {
              EXPECT_EQ(Installation(), "ONNN");
              EXPECT_TRUE(sim::RestartDeletions().empty());
          } },
        { "copy engine (sound behaviour): the deletion at restart is refused: still installed, the next run "
          "removes the old editor",
          nullptr,
          [] {
              LayOutOldInstallation();
              sim::RunProgram(TARGET + "\\Quillet.exe");
              sim::FailRestartDeletion(ERROR_ACCESS_DENIED);
          },
          SILENT, 0, CLEAN_STEPS, Match::Exact, true, true,
          [] {
              EXPECT_EQ(Installation(), "NNNN+aside");
              EXPECT_TRUE(sim::RestartDeletions().empty());
          } },
        { "copy engine (sound behaviour): a run killed between moving the editor aside and its copy in: the next "
          "run puts it back before anything else, even when cancelled",
          nullptr,
          [&] {
              LayOutOldInstallation();
              MoveFileExA((TARGET + "\\Quillet.exe").c_str(), (TARGET + "\\Quillet.exe.~old").c_str(), 0);
              cancelAtChunk(2);
          },
          { ABANDONED_REPORT }, 1, { START, NEXT, NEXT, CHUNK, CHUNK, CHUNK, DONE, FINISH }, Match::Exact, true, true,
          [] { EXPECT_EQ(Installation(), "OOOO"); } },
        { "sequencer (sound behaviour): the main window closed while the editor is copied: its copy goes", nullptr,
          [this, &chunks] {
              LayOutOldInstallation();
              chunks = 0;
              onMessage = [this, &chunks](const MSG &msg) {
                  if (msg.message == WM_COPY_CHUNK && ++chunks == 2)
                      PostMessageA(mainWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
              };
          },
          {}, 0, { START, NEXT, NEXT, CHUNK, CHUNK, CHUNK }, Match::Exact, true, true,
          [] {
              EXPECT_EQ(Installation(), "OOOO");
              EXPECT_EQ(sim::MainWindowOfClass(Text(IDS_CLASS_NAME)), (HWND)NULL);
          } },
        { "copy engine (sound behaviour): what a run ended by force left beside a file the next run writes is "
          "removed; other programs' files with the same endings are theirs",
          nullptr,
          [] {
              LayOutOldInstallation();
              sim::PutFile(TARGET + "\\Quillet.exe.~qs", "a copy a killed run left");
              sim::PutFile("C:\\WINDOWS\\Unquil.exe.~qs", std::string(50, 'x'));
              sim::PutFile("C:\\WINDOWS\\Unquil.exe.~old", "an old uninstaller whose program has ended");
              sim::PutFile("C:\\WINDOWS\\Unquil.exe.~old2", "an older one still");
              sim::PutFile("C:\\WINDOWS\\other.ini.~old", "another program's");
              sim::PutFile("C:\\WINDOWS\\tool.dat.~qs", "another program's");
          },
          SILENT, 0, CLEAN_STEPS, Match::Exact, true, true,
          [] {
              EXPECT_FALSE(sim::GetFile("C:\\WINDOWS\\other.ini").has_value());
              EXPECT_EQ(sim::GetFile("C:\\WINDOWS\\other.ini.~old"), std::string("another program's"));
              EXPECT_EQ(sim::GetFile("C:\\WINDOWS\\tool.dat.~qs"), std::string("another program's"));
              DeleteFileA("C:\\WINDOWS\\other.ini.~old");
              DeleteFileA("C:\\WINDOWS\\tool.dat.~qs");
              EXPECT_EQ(Installation(), "NNNN");
          } },
    };
    RunRows(rows);
}

// ---- The program group and its shortcuts --------------------------------------------------------

TEST_F(FailureMatrixTest, Shortcuts)
{
    const std::string groupLink = PROGRAMS + "\\Quillet\\Quillet.lnk";
    const std::string readMeLink = PROGRAMS + "\\Quillet\\Read me.lnk";
    const std::string desktopLink = DESKTOP + "\\Quillet.lnk";
    auto links = [=] {
        return std::string(FileExists(groupLink) ? "G" : "-") + (FileExists(desktopLink) ? "D" : "-") +
               (FileExists(readMeLink) ? "R" : "-");
    };
    // Without the Programs folder the registration follows within the same message: nothing is posted.
    const Steps direct = { DONE, SHORTCUTS };
    std::vector<Row> rows = {
        { "shortcuts 1 (silent): no [Group] section", Replacing("[Group]", "[NoGroup]"), nullptr, SILENT, 0,
          COMPLETED, Match::Tail, true, true,
          [=] {
              EXPECT_EQ(links(), "---");
              EXPECT_EQ(YesEntries(), "1111111");
          } },
        { "shortcuts 2 (silent): no Programs value", nullptr,
          [] { sim::RegDeleteValue(HKEY_CURRENT_USER, SHELL_FOLDERS, "Programs"); }, SILENT, 0, direct, Match::Tail,
          true, true,
          [=] {
              EXPECT_EQ(links(), "---");
              EXPECT_EQ(YesEntries(), "1111111");
          } },
        { "shortcuts 2 (silent): a Programs value longer than 127 characters", nullptr,
          [] { sim::RegPutString(HKEY_CURRENT_USER, SHELL_FOLDERS, "Programs", "C:\\" + std::string(130, 'p')); },
          SILENT, 0, direct, Match::Tail, true, true,
          [=] {
              EXPECT_EQ(links(), "---");
              EXPECT_EQ(YesEntries(), "1111111");
          } },
        { "shortcuts 2 / registry 1 (silent): the Shell Folders key cannot be opened", nullptr,
          [] { sim::FailRegistryOpen("Shell Folders", ERROR_ACCESS_DENIED); }, SILENT, 0, direct, Match::Tail, true,
          true, [=] { EXPECT_EQ(links(), "---"); } },
        { "catalogue 17 / shortcuts 3: the group folder is denied (access denied counts here)", nullptr,
          [] { sim::FailCreateDirectory("Programs\\Quillet", ERROR_ACCESS_DENIED); },
          { { IDS_CANNOT_CREATE_S, PROGRAMS + "\\Quillet", ERROR_OK, Caption::Application, Owner::MainWindow },
            QUESTION, FAILED_REPORT },
          1, COMPLETED, Match::Tail, true, true,
          [=] {
              EXPECT_EQ(links(), "---");
              EXPECT_TRUE(sim::ComCalls().empty());
              EXPECT_EQ(YesEntries(), "1111111");
          } },
        { "catalogue 17 / shortcuts 3: the Programs folder that the registry names does not exist", nullptr,
          [] { sim::RegPutString(HKEY_CURRENT_USER, SHELL_FOLDERS, "Programs", "C:\\Users\\me\\Gone"); },
          { { IDS_CANNOT_CREATE_S, "C:\\Users\\me\\Gone\\Quillet", ERROR_OK, Caption::Application, Owner::MainWindow },
            QUESTION, FAILED_REPORT },
          1, COMPLETED, Match::Tail, true, true, [=] { EXPECT_EQ(links(), "---"); } },
        { "shortcuts 3 (silent): the group folder exists already", nullptr,
          [] { sim::PutFile(PROGRAMS + "\\Quillet\\old.lnk", ""); }, SILENT, 0, CLEAN_STEPS, Match::Exact, true, true,
          [=] { EXPECT_EQ(links(), "GDR"); } },
        { "shortcuts 5 (silent): no Desktop value", nullptr,
          [] { sim::RegDeleteValue(HKEY_CURRENT_USER, SHELL_FOLDERS, "Desktop"); }, SILENT, 0, CLEAN_STEPS,
          Match::Exact, true, true, [=] { EXPECT_EQ(links(), "G-R"); } },
        { "shortcuts 5 (silent): a Desktop value longer than 127 characters", nullptr,
          [] { sim::RegPutString(HKEY_CURRENT_USER, SHELL_FOLDERS, "Desktop", "C:\\" + std::string(130, 'd')); },
          SILENT, 0, CLEAN_STEPS, Match::Exact, true, true, [=] { EXPECT_EQ(links(), "G-R"); } },
    };
    // Any COM call of the first shortcut failing skips that shortcut alone.
    rows.push_back({ "shortcuts 4 (silent): CoCreateInstance fails for the first shortcut", nullptr,
                     [] { sim::FailCoCreateInstance(REGDB_E_CLASSNOTREG, 1); }, SILENT, 0, CLEAN_STEPS, Match::Exact,
                     true, true, [=] { EXPECT_EQ(links(), "-DR"); } });
    for (const char *method :
         { "QueryInterface", "SetPath", "SetDescription", "SetIconLocation", "SetShowCmd", "Save" }) {
        std::string name = method;
        rows.push_back({ "shortcuts 4 (silent): " + name + " fails for the first shortcut", nullptr,
                         [name] { sim::FailComMethod(name, E_FAIL, 1); }, SILENT, 0, CLEAN_STEPS, Match::Exact, true,
                         true, [=] { EXPECT_EQ(links(), "-DR"); } });
    }
    rows.push_back({ "shortcuts 4 (silent): the desktop shortcut cannot be saved", nullptr,
                     [=] { sim::FailOpen(desktopLink, ERROR_ACCESS_DENIED); }, SILENT, 0, CLEAN_STEPS, Match::Exact,
                     true, true, [=] { EXPECT_EQ(links(), "G-R"); } });
    rows.push_back({ "shortcuts 4 (silent): every shortcut fails", nullptr,
                     [] { sim::FailComMethod("Save", E_ACCESSDENIED, -1); }, SILENT, 0, CLEAN_STEPS, Match::Exact,
                     true, true, [=] { EXPECT_EQ(links(), "---"); } });
    RunRows(rows);
}

// ---- Registration and the registry walk ---------------------------------------------------------

TEST_F(FailureMatrixTest, Registration)
{
    auto answerNo = [this] {
        onBox = [](const sim::MessageBoxRecord &box) { return (box.type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK; };
    };
    auto putCommands = [] {
        sim::RegPutString(HKEY_CLASSES_ROOT, OPEN_KEY, "", "notepad.exe %1");
        sim::RegPutString(HKEY_CLASSES_ROOT, PRINT_KEY, "", "notepad.exe /p %1");
    };
    auto yesRefused = [](const std::string &name, std::function<void()> fault, const std::string &entries) {
        return Row{ "registration 1 (silent): " + name, nullptr, fault, SILENT, 0, COMPLETED, Match::Tail, true, true,
                    [entries] { EXPECT_EQ(YesEntries(), entries); } };
    };
    std::vector<Row> rows = {
        yesRefused("entry 1 refused, the application path",
                   [] { sim::FailRegistryWrite("App Paths\\Quillet.exe"); }, "0111111"),
        yesRefused("entry 2 refused, the uninstall entry's name",
                   [] { sim::FailRegistryValueWrite("Uninstall\\Quillet", "DisplayName"); }, "1011111"),
        yesRefused("entry 3 refused, the uninstall command",
                   [] { sim::FailRegistryValueWrite("Uninstall\\Quillet", "UninstallString"); }, "1101111"),
        yesRefused("entry 4 refused, the text file icon", [] { sim::FailRegistryWrite("txtfile\\DefaultIcon"); },
                   "1110111"),
        yesRefused("entry 5 refused, the open command", [] { sim::FailRegistryWrite(OPEN_KEY); }, "1111011"),
        yesRefused("entry 6 refused, the print command", [] { sim::FailRegistryWrite(PRINT_KEY); }, "1111101"),
        { "registration 1 (silent): entry 7 refused for one suffix, the others still registered", nullptr,
          [] { sim::FailRegistryWrite("HKEY_CLASSES_ROOT\\.log"); }, SILENT, 0, COMPLETED, Match::Tail, true, true,
          [] {
              EXPECT_EQ(YesEntries(), "1111110");
              EXPECT_EQ(TextValue(HKEY_CLASSES_ROOT, ".txt", ""), "txtfile");
              EXPECT_FALSE(HasValue(HKEY_CLASSES_ROOT, ".log", ""));
              EXPECT_EQ(TextValue(HKEY_CLASSES_ROOT, ".ini", ""), "txtfile");
          } },
        { "catalogue 18 (No): the existing commands get their \"%1\" quoted", nullptr,
          [answerNo, putCommands] {
              answerNo();
              putCommands();
          },
          SILENT, 0, COMPLETED, Match::Tail, true, true,
          [] {
              EXPECT_EQ(TextValue(HKEY_CLASSES_ROOT, OPEN_KEY, ""), "notepad.exe \"%1\"");
              EXPECT_EQ(TextValue(HKEY_CLASSES_ROOT, PRINT_KEY, ""), "notepad.exe /p \"%1\"");
              // Entries 5 and 6 are the commands that were there before.
              EXPECT_EQ(YesEntries(), "1110110");
              EXPECT_EQ(DialogsOpened("REGISTRATION"), 0);
          } },
        { "registration 1 (silent): entry 8 refused, the open command stays as it was", nullptr,
          [answerNo, putCommands] {
              answerNo();
              putCommands();
              sim::FailRegistryWrite(OPEN_KEY);
          },
          SILENT, 0, COMPLETED, Match::Tail, true, true,
          [] {
              EXPECT_EQ(TextValue(HKEY_CLASSES_ROOT, OPEN_KEY, ""), "notepad.exe %1");
              EXPECT_EQ(TextValue(HKEY_CLASSES_ROOT, PRINT_KEY, ""), "notepad.exe /p \"%1\"");
          } },
        { "registration 1 (silent): entry 9 refused, the print command stays as it was", nullptr,
          [answerNo, putCommands] {
              answerNo();
              putCommands();
              sim::FailRegistryWrite(PRINT_KEY);
          },
          SILENT, 0, COMPLETED, Match::Tail, true, true,
          [] {
              EXPECT_EQ(TextValue(HKEY_CLASSES_ROOT, OPEN_KEY, ""), "notepad.exe \"%1\"");
              EXPECT_EQ(TextValue(HKEY_CLASSES_ROOT, PRINT_KEY, ""), "notepad.exe /p %1");
          } },
        { "registration 2 (silent): No, and there are no text file commands to read", nullptr, answerNo, SILENT, 0,
          COMPLETED, Match::Tail, true, true,
          [] {
              EXPECT_FALSE(sim::RegKeyExists(HKEY_CLASSES_ROOT, "txtfile"));
              EXPECT_EQ(YesEntries(), "1110000");
          } },
        { "registration 2 / registry 2 (silent): No, and an open command longer than the buffer", nullptr,
          [answerNo] {
              answerNo();
              sim::RegPutString(HKEY_CLASSES_ROOT, OPEN_KEY, "", std::string(300, 'n') + " %1");
              sim::RegPutString(HKEY_CLASSES_ROOT, PRINT_KEY, "", "notepad.exe /p %1");
          },
          SILENT, 0, COMPLETED, Match::Tail, true, true,
          [] {
              EXPECT_EQ(TextValue(HKEY_CLASSES_ROOT, OPEN_KEY, ""), std::string(300, 'n') + " %1");
              EXPECT_EQ(TextValue(HKEY_CLASSES_ROOT, PRINT_KEY, ""), "notepad.exe /p \"%1\"");
          } },
        { "registration 2 / registry 1 (silent): No, and reading the commands is denied", nullptr,
          [answerNo, putCommands] {
              answerNo();
              putCommands();
              sim::FailRegistryQuery("txtfile\\shell", ERROR_ACCESS_DENIED);
          },
          SILENT, 0, COMPLETED, Match::Tail, true, true,
          [] {
              EXPECT_EQ(TextValue(HKEY_CLASSES_ROOT, OPEN_KEY, ""), "notepad.exe %1");
              EXPECT_EQ(TextValue(HKEY_CLASSES_ROOT, PRINT_KEY, ""), "notepad.exe /p %1");
          } },
        { "registration (silent): Yes without a [Registration] section: no file-types dialog",
          Replacing("[Registration]", "[NoRegistration]"), nullptr, SILENT, 0, COMPLETED, Match::Tail, true, true,
          [] {
              EXPECT_EQ(DialogsOpened("REGISTRATION"), 0);
              EXPECT_EQ(YesEntries(), "1111110");
              EXPECT_FALSE(HasValue(HKEY_CLASSES_ROOT, ".txt", ""));
          } },
        { "registry 1 (silent): a key of the text file type cannot be created", nullptr,
          [] { sim::FailRegistryOpen("HKEY_CLASSES_ROOT\\txtfile", ERROR_ACCESS_DENIED); }, SILENT, 0, COMPLETED,
          Match::Tail, true, true, [] { EXPECT_EQ(YesEntries(), "1110001"); } },
        { "registry 1, 4 (silent): a limited user, denied the machine's CurrentVersion key: the script's directory "
          "is proposed and the machine-wide entries are not written",
          nullptr,
          [] { sim::FailRegistryOpen("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion"); }, SILENT,
          0, CLEAN_STEPS, Match::Exact, true, true,
          [] {
              EXPECT_TRUE(FileExists("C:\\Quillet\\Quillet.exe"));
              EXPECT_EQ(YesEntries(), "0001111");
          } },
        { "registry 2 (silent): no ProgramFilesDir value: the script's directory is proposed", nullptr,
          [] { sim::RegDeleteValue(HKEY_LOCAL_MACHINE, VERSION_KEY, "ProgramFilesDir"); }, SILENT, 0, CLEAN_STEPS,
          Match::Exact, true, true,
          [] {
              EXPECT_TRUE(FileExists("C:\\Quillet\\Quillet.exe"));
              EXPECT_EQ(TextValue(HKEY_LOCAL_MACHINE, APP_PATH_KEY, ""), "C:\\Quillet\\Quillet.exe");
          } },
        { "installation record (sound behaviour): it cannot be written: the report of a partial installation",
          nullptr, [] { sim::FailOpen("Quillet.rec", ERROR_ACCESS_DENIED); }, { QUESTION, FAILED_REPORT }, 1,
          COMPLETED, Match::Tail, true, true,
          [] { EXPECT_FALSE(FileExists("C:\\WINDOWS\\Quillet.rec")); } },
        { "directory dialog (sound behaviour): an earlier installation's directory is proposed, so that an upgrade "
          "replaces it where it is",
          nullptr,
          [] {
              sim::PutFile("C:\\WINDOWS\\Quillet.rec", "[Record]\r\nDirectory=C:\\Apps\\Quillet\r\n[Files]\r\n"
                                                       "[Directories]\r\n[Links]\r\n[Registry]\r\n[Keys]\r\n");
          },
          SILENT, 0, CLEAN_STEPS, Match::Exact, true, true,
          [] {
              EXPECT_TRUE(FileExists("C:\\Apps\\Quillet\\Quillet.exe"));
              EXPECT_FALSE(FileExists(TARGET + "\\Quillet.exe"));
              EXPECT_EQ(TextValue(HKEY_LOCAL_MACHINE, APP_PATH_KEY, ""), "C:\\Apps\\Quillet\\Quillet.exe");
          } },
        // The first registry walk of the run is the directory proposal's: its chain starts at the first HeapAlloc.
        { "registry 3 (silent): the first node of a chain cannot be allocated", nullptr,
          [] { sim::FailHeapAlloc(1); }, SILENT, 0, CLEAN_STEPS, Match::Exact, true, true,
          [] { EXPECT_TRUE(FileExists("C:\\Quillet\\Quillet.exe")); } },
        { "registry 3 (silent): a node in the middle of a walk cannot be allocated, the keys opened so far are "
          "closed",
          nullptr, [] { sim::FailHeapAlloc(3); }, SILENT, 0, CLEAN_STEPS, Match::Exact, true, true,
          [] {
              EXPECT_TRUE(FileExists("C:\\Quillet\\Quillet.exe"));
              // The proposal's walk opened one key and stopped; the next walk starts from the root again.
              const std::vector<std::string> &requests = sim::RegKeyRequests();
              ASSERT_GE(requests.size(), 3u);
              EXPECT_EQ(Steps(requests.begin(), requests.begin() + 3), (Steps{ "Software", "Software", "Microsoft" }));
          } },
    };
    RunRows(rows);
}

}  // namespace
