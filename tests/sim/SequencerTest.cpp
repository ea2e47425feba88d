// The installation sequence, message by message, from the directory dialog to the final report.
#include "InstallFixture.h"

#include <algorithm>

#include "resources/resource.h"

namespace {

using Steps = std::vector<std::string>;

class SequencerTest : public InstallTest {
protected:
    const sim::MessageBoxRecord *FinalReport() const
    {
        return sim::MessageBoxes().empty() ? nullptr : &sim::MessageBoxes().back();
    }
    bool ConfigurationFileExists() const { return sim::GetFile("C:\\WINDOWS\\Quillet.cfg").has_value(); }
};

TEST_F(SequencerTest, ACleanRunPostsEveryStepInOrderAndReportsSuccess)
{
    LayOutExample();
    EXPECT_EQ(Run(), 0);
    Steps expected = { "INSTALL_START",
                       "COPY_NEXT_FILE", "COPY_NEXT_FILE",                                    // comment line
                       "COPY_CHUNK", "COPY_CHUNK", "COPY_CHUNK", "COPY_NEXT_FILE",           // Quillet.exe
                       "COPY_CHUNK", "COPY_NEXT_FILE",                                        // Quillet.hlp
                       "COPY_CHUNK", "COPY_NEXT_FILE",                                        // readme.txt
                       "COPY_CHUNK", "COPY_CHUNK", "COPY_NEXT_FILE",                          // Unquil.exe
                       "COPY_NEXT_FILE",                                                      // empty line
                       "COPY_DONE", "MAKE_SHORTCUTS", "REGISTER_APP" };
    EXPECT_EQ(PostedSteps(), expected);
    EXPECT_FALSE(twoStepsPending);
    EXPECT_FALSE(badParameters);

    const sim::MessageBoxRecord *report = FinalReport();
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(report->text, Text(IDS_REPORT_DONE_S, "Quillet"));
    EXPECT_EQ(report->caption, "Quillet installation");
    EXPECT_EQ(report->type, (UINT)(MB_OK | MB_ICONINFORMATION));
    EXPECT_EQ(report->owner, mainWindow);
    EXPECT_FALSE(ConfigurationFileExists());
    EXPECT_EQ(sim::GetFile("C:\\Program Files\\Quillet\\Quillet.exe"), std::string(20000, 'Q'));
    EXPECT_EQ(sim::GetFile("C:\\WINDOWS\\Unquil.exe"), std::string(8192, 'U'));
}

TEST_F(SequencerTest, TheCopyDialogIsGoneBeforeTheShortcutsAreMade)
{
    LayOutExample();
    bool dialogAtShortcuts = true;
    onMessage = [&dialogAtShortcuts](const MSG &msg) {
        if (msg.message == WM_MAKE_SHORTCUTS)
            dialogAtShortcuts = sim::FindWindowByTemplate("Copy") != NULL || State.CopyDialog != NULL;
    };
    Run();
    EXPECT_FALSE(dialogAtShortcuts);
}

TEST_F(SequencerTest, EveryWayOutOfTheDirectoryDialogButInstallEndsWithoutAReport)
{
    struct Row {
        const char *name;
        std::function<void(HWND)> act;
    } rows[] = {
        { "Cancel", [](HWND d) { sim::PressButton(d, IDC_DIRECTORY_CANCEL); } },
        { "Escape", [](HWND d) { sim::PressKey(d, VK_ESCAPE); } },
        { "close box", [](HWND d) { sim::ClickCloseBox(d); } },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        sim::Reset(sim::Sandbox());
        LayOutExample();
        onDirectory = row.act;
        EXPECT_EQ(Run(), ERROR_INSTALL_USEREXIT);
        EXPECT_TRUE(sim::MessageBoxes().empty());
        EXPECT_EQ(PostedSteps(), Steps{ "INSTALL_START" });
        EXPECT_TRUE(ConfigurationFileExists());
        EXPECT_FALSE(sim::DirectoryExists("C:\\Program Files\\Quillet"));
        EXPECT_EQ(sim::FindWindowByTemplate("Copy"), (HWND)NULL);
    }
}

TEST_F(SequencerTest, AMissingSourceIsWarnedAtStartAndReportedAsAPartialInstallation)
{
    LayOutExample();
    sim::PutFile("C:\\DIST\\Quillet.hlp", "");
    std::string host = sim::HostPath("C:\\DIST\\Quillet.hlp");
    remove(host.c_str());
    EXPECT_EQ(Run(), ERROR_INSTALL_FAILURE);
    ASSERT_GE(sim::MessageBoxes().size(), 2u);
    EXPECT_EQ(sim::MessageBoxes()[0].text, Text(IDS_CANNOT_OPEN_S, "C:\\DIST\\Quillet.hlp"));
    EXPECT_EQ(FinalReport()->text, Text(IDS_REPORT_FAILED_S, "Quillet"));
    EXPECT_TRUE(ConfigurationFileExists());
    EXPECT_TRUE(sim::GetFile("C:\\Program Files\\Quillet\\readme.txt").has_value());
    Steps steps = PostedSteps();
    EXPECT_EQ(steps.back(), "REGISTER_APP");
}

TEST_F(SequencerTest, ACancelledCopyReportsAbandonmentAndSkipsShortcutsAndRegistry)
{
    LayOutExample();
    sim::PutFile("C:\\DIST\\Quillet.exe", std::string(200000, 'Q'));
    int chunks = 0;
    onMessage = [&chunks](const MSG &msg) {
        if (msg.message == WM_COPY_CHUNK && ++chunks == 3)
            sim::PressButton(State.CopyDialog, IDC_COPY_CANCEL);
    };
    EXPECT_EQ(Run(), ERROR_INSTALL_USEREXIT);
    EXPECT_EQ(FinalReport()->text, Text(IDS_REPORT_ABANDONED_S, "Quillet"));
    Steps steps = PostedSteps();
    ASSERT_GE(steps.size(), 2u);
    EXPECT_EQ(steps[steps.size() - 2], "COPY_DONE");
    EXPECT_EQ(steps.back(), "FINISH");
    EXPECT_TRUE(ConfigurationFileExists());
    // The file being copied is not made.
    EXPECT_TRUE(FilesBelow("C:\\Program Files\\Quillet").empty());
    EXPECT_FALSE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Quillet.exe"));
    EXPECT_TRUE(sim::Links().empty());
}

TEST_F(SequencerTest, CancelAtADestinationPromptEndsTheRunWithoutHanging)
{
    LayOutExample();
    sim::FailOpen("Program Files\\Quillet\\Quillet.exe", ERROR_ACCESS_DENIED);
    onBox = [](const sim::MessageBoxRecord &box) { return (box.type & MB_TYPEMASK) == MB_OKCANCEL ? IDCANCEL : IDOK; };
    EXPECT_EQ(Run(), ERROR_INSTALL_FAILURE);
    EXPECT_EQ(FinalReport()->text, Text(IDS_REPORT_FAILED_S, "Quillet"));
    Steps steps = PostedSteps();
    EXPECT_EQ(steps.back(), "FINISH");
    EXPECT_EQ(std::count(steps.begin(), steps.end(), "COPY_DONE"), 0);
    // The copy dialog stays until the program ends.
    EXPECT_NE(sim::FindWindowByTemplate("Copy"), (HWND)NULL);
    EXPECT_FALSE(sim::GetFile("C:\\WINDOWS\\Unquil.exe").has_value());
}

TEST_F(SequencerTest, FilesMissingWhenTheInstallationStartsGoesStraightToTheReport)
{
    // [Files] exists at start-up but not for the second look: a script whose [Files] header hides
    // behind a NUL cannot do that, so the step's own lookup is failed through the section name.
    LayOutExample();
    onDirectory = [](HWND dialog) {
        State.FilesSection[0] = 'X';
        sim::PressButton(dialog, IDC_DIRECTORY_INSTALL);
    };
    EXPECT_EQ(Run(), ERROR_INSTALL_FAILURE);
    ASSERT_EQ(sim::MessageBoxes().size(), 2u);
    EXPECT_EQ(sim::MessageBoxes()[0].text, "Section [Xiles] does not exist !");
    EXPECT_EQ(sim::MessageBoxes()[0].owner, mainWindow);
    EXPECT_EQ(sim::MessageBoxes()[0].caption, "Install");
    EXPECT_EQ(sim::MessageBoxes()[0].type, (UINT)MB_ICONINFORMATION);
    EXPECT_EQ(sim::MessageBoxes()[1].text, Text(IDS_REPORT_FAILED_S, "Quillet"));
    EXPECT_EQ(PostedSteps(), (Steps{ "INSTALL_START", "FINISH" }));
}

TEST_F(SequencerTest, TheConfigurationFileIsOnlyDeletedWhenItsWholePathFits)
{
    LayOutExample();
    std::string longWindows = "C:\\" + std::string(245, 'w');
    sim::SetWindowsDirectory(longWindows);
    sim::PutFile(longWindows + "\\Quillet.c", "not ours");
    sim::PutFile(longWindows + "\\Unquil.exe", "");
    Run();
    EXPECT_TRUE(sim::GetFile(longWindows + "\\Quillet.c").has_value());
}

TEST_F(SequencerTest, ReportsInFrenchAndItalian)
{
    struct Row {
        LANGID language;
        const char *done;
    } rows[] = {
        { 1036, "Installation normalement termin\xE9" "e. Une ic\xF4ne \"Quillet\" a \xE9t\xE9 cr\xE9\xE9" "e sur votre bureau "
                "ainsi qu'un dossier dans votre menu \"D\xE9marrer\\programmes\"." },
        { 1040, "Installazione normalmente terminata. Un icona \"Quillet\" e stata creata sul desktop ansich\xE8 una "
                "cartella nel menu \"Avvio\\programmi\"." },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.language);
        sim::Reset(sim::Sandbox());
        sim::SetLanguage(row.language);
        LayOutExample();
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(FinalReport()->text, row.done);
        EXPECT_EQ(FinalReport()->caption, "Quillet installation");
    }
}

TEST_F(SequencerTest, NothingIsLeftOpenAfterACleanRun)
{
    LayOutExample();
    Run();
    ExpectNothingHeld();
}

}  // namespace
