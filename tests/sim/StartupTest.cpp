// Start-up: the script path, the [Install] pass, the [Files] pre-pass, the window and its class.
#include "InstallFixture.h"

#include "resources/resource.h"

namespace {

class StartupTest : public InstallTest {
protected:
    // A run that stops in the directory dialog: enough to look at what start-up made.
    void RunToDirectoryDialog()
    {
        onDirectory = [this](HWND dialog) {
            inspect(dialog);
            sim::PressButton(dialog, IDC_DIRECTORY_CANCEL);
        };
        exitCode = Run();
    }
    std::function<void(HWND)> inspect = [](HWND) {};
    int exitCode = -1;
};

TEST_F(StartupTest, TheScriptIsTheModulePathWithInfAsExtension)
{
    struct Row {
        const char *module, *script;
    } rows[] = {
        { "D:\\SETUP.EXE", "D:\\SETUP.inf" },
        { "D:\\V1.0\\MY.SETUP.EXE", "D:\\V1.0\\MY.SETUP.inf" },
        { "C:\\DIST\\SETUP", "C:\\DIST\\SETUP.inf" },
        { "C:\\A.B\\SETUP", "C:\\A.B\\SETUP.inf" },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.module);
        sim::Reset(sim::Sandbox());
        sim::SetModulePath(row.module);
        EXPECT_EQ(Run(), ERROR_INSTALL_FAILURE);
        ASSERT_EQ(sim::MessageBoxes().size(), 1u);
        EXPECT_EQ(sim::MessageBoxes()[0].text, Text(IDS_CANNOT_OPEN_S, row.script));
        EXPECT_EQ(sim::MessageBoxes()[0].caption, "Install");
        EXPECT_EQ(sim::MessageBoxes()[0].type, (UINT)MB_ICONERROR);
        EXPECT_EQ(sim::MessageBoxes()[0].owner, (HWND)NULL);
    }
}

// System32 alone, not "the default directories", which include the installer's own folder.
// A kernel without the call is no reason to stop.
TEST_F(StartupTest, LaterDllsComeFromSystem32AloneWhereTheSystemOffersIt)
{
    EXPECT_EQ(Run(), ERROR_INSTALL_FAILURE);
    EXPECT_EQ(sim::DefaultDllDirectories(), (DWORD)LOAD_LIBRARY_SEARCH_SYSTEM32);

    sim::Reset(sim::Sandbox());
    sim::SetKernelLacksDefaultDllDirectories();
    EXPECT_EQ(Run(), ERROR_INSTALL_FAILURE);
    EXPECT_EQ(sim::DefaultDllDirectories(), 0u);
    EXPECT_EQ(sim::MessageBoxes().size(), 1u);
}

TEST_F(StartupTest, EarlyStopsShowOneMessageAndMakeNoWindow)
{
    struct Row {
        const char *name;
        std::string script;
        std::string text;
        UINT type;
    } rows[] = {
        { "no [Install]", "[Files]\r\nA=a.txt\r\n", "Section [Install] does not exist !", MB_ICONINFORMATION },
        { "empty script", "", "Section [Install] does not exist !", MB_ICONINFORMATION },
        { "no [Files]", "[Install]\r\nApplication=Q\r\n", "Section [Files] does not exist !", MB_ICONINFORMATION },
        { "NUL before [Files]", std::string("[Install]\n\0[Files]\n", 20), "Section [Files] does not exist !",
          MB_ICONINFORMATION },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        sim::Reset(sim::Sandbox());
        sim::PutFile("C:\\DIST\\SETUP.inf", row.script);
        EXPECT_EQ(Run(), ERROR_INSTALL_FAILURE);
        ASSERT_EQ(sim::MessageBoxes().size(), 1u);
        EXPECT_EQ(sim::MessageBoxes()[0].text, row.text);
        EXPECT_EQ(sim::MessageBoxes()[0].type, row.type);
        EXPECT_EQ(sim::MainWindowOfClass("Install"), (HWND)NULL);
        EXPECT_TRUE(PostedSteps().empty());
        EXPECT_EQ(sim::LiveGlobalBlocks(), 0);
        EXPECT_EQ(sim::OpenFileHandles(), 0);
        EXPECT_EQ(sim::RegisteredClasses(), 0);
    }
}

TEST_F(StartupTest, TheInstallPassMatchesKeysByTheStartOfTheLine)
{
    struct Row {
        const char *name;
        std::string lines;
        std::string caption;
    } rows[] = {
        { "plain", "Caption=My Editor\r\n", "My Editor" },
        { "blanks in front", "  Caption=My Editor\r\n", "" },
        { "lower case", "caption=My Editor\r\n", "" },
        { "longer key", "Captions=My Editor\r\n", "My Editor" },
        { "last wins", "Caption=First\r\nCaption=Second\r\n", "Second" },
        { "no equals empties", "Caption=First\r\nCaption\r\n", "" },
        { "cut at 127", "Caption=" + std::string(200, 'c') + "\r\n", std::string(127, 'c') },
        { "comment", ";Caption=x\r\n", "" },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        sim::Reset(sim::Sandbox());
        LayOutExample("[Install]\r\nApplication=Quillet\r\n" + row.lines + "[Files]\r\n");
        std::string title = "unset";
        inspect = [&title](HWND) { title = sim::WindowText(sim::MainWindowOfClass("Install")); };
        RunToDirectoryDialog();
        EXPECT_EQ(title, row.caption);
    }
}

TEST_F(StartupTest, AllFourKeysAreReadAndABitmapKeyNeedNotBeExact)
{
    LayOutExample("[Install]\r\nBitmaps=setup.bmp\r\nApplication=Quillet\r\nCaption=Title\r\nDirectory=D:\\Q\r\n[Files]\r\n");
    HBITMAP backdrop = NULL;
    inspect = [&backdrop](HWND) { backdrop = State.BackgroundBitmap; };
    RunToDirectoryDialog();
    EXPECT_STREQ(State.BitmapName, "setup.bmp");
    EXPECT_STREQ(State.ApplicationName, "Quillet");
    EXPECT_STREQ(State.CaptionText, "Title");
    EXPECT_NE(backdrop, (HBITMAP)NULL);
    // The window's end takes the backdrop with it.
    EXPECT_EQ(State.BackgroundBitmap, (HBITMAP)NULL);
    EXPECT_EQ(sim::LiveGdiObjects(), 0);
}

TEST_F(StartupTest, MissingSourcesAreEachWarnedAboutBeforeTheWindowExists)
{
    LayOutExample("[Install]\r\nApplication=Quillet\r\n[Files]\r\nA=Quillet.exe\r\nB=gone1.txt\r\n\r\n;c\r\nC=readme.txt\r\n"
                  "D=dest;gone2.txt\r\nE=%Unquil.exe\r\nwords without equals\r\n");
    bool windowExistedAtFirstBox = true;
    onBox = [&windowExistedAtFirstBox](const sim::MessageBoxRecord &) {
        if (sim::MessageBoxes().size() == 1)
            windowExistedAtFirstBox = sim::MainWindowOfClass("Install") != NULL;
        return IDOK;
    };
    onDirectory = [](HWND dialog) { sim::PressButton(dialog, IDC_DIRECTORY_CANCEL); };
    Run();
    ASSERT_GE(sim::MessageBoxes().size(), 3u);
    EXPECT_FALSE(windowExistedAtFirstBox);
    EXPECT_EQ(sim::MessageBoxes()[0].text, Text(IDS_CANNOT_OPEN_S, "C:\\DIST\\gone1.txt"));
    EXPECT_EQ(sim::MessageBoxes()[1].text, Text(IDS_CANNOT_OPEN_S, "C:\\DIST\\gone2.txt"));
    // A line without '=' names the installer's directory itself, which is no file.
    EXPECT_EQ(sim::MessageBoxes()[2].text, Text(IDS_CANNOT_OPEN_S, "C:\\DIST\\"));
    for (size_t i = 0; i < 3; i++) {
        EXPECT_EQ(sim::MessageBoxes()[i].type, (UINT)MB_ICONINFORMATION);
        EXPECT_EQ(sim::MessageBoxes()[i].owner, (HWND)NULL);
        EXPECT_EQ(sim::MessageBoxes()[i].caption, "Install");
    }
    EXPECT_EQ(State.FailureCount, 3);
    EXPECT_EQ(State.TotalBytes, 20000 + 16 + 8192);
}

TEST_F(StartupTest, AnEmptyFilesSectionTotalsNothing)
{
    LayOutExample("[Install]\r\nApplication=Quillet\r\n[Files]\r\n[Group]\r\n");
    RunToDirectoryDialog();
    EXPECT_EQ(State.TotalBytes, 0);
    EXPECT_EQ(State.FailureCount, 0);
}

TEST_F(StartupTest, TheMainWindowCoversTheScreenWithTheClassAsDescribed)
{
    LayOutExample();
    sim::SetScreenSize(800, 600);
    inspect = [](HWND dialog) {
        HWND main = sim::MainWindowOfClass("Install");
        ASSERT_NE(main, (HWND)NULL);
        EXPECT_EQ(sim::WindowOwner(dialog), main);
        EXPECT_EQ(sim::WindowStyle(main), (DWORD)0x02CF0000);
        RECT rect = sim::WindowRect(main);
        EXPECT_EQ(rect.left, 0);
        EXPECT_EQ(rect.top, 0);
        EXPECT_EQ(rect.right, 800);
        EXPECT_EQ(rect.bottom, 600);
        EXPECT_EQ(sim::WindowText(main), "Quillet installation");
        EXPECT_TRUE(IsWindowVisible(main));
        EXPECT_EQ(sim::IconName(sim::ClassIcon("Install")), "INSTALL");
        EXPECT_EQ(sim::ClassBackground("Install"), (HBRUSH)(INT_PTR)13);
    };
    RunToDirectoryDialog();
    EXPECT_EQ(exitCode, ERROR_INSTALL_USEREXIT);
}

TEST_F(StartupTest, TheFrenchClassFindsTheIconByItsOwnName)
{
    LayOutExample();
    sim::SetLanguage(1036);
    std::string icon;
    inspect = [&icon](HWND) { icon = sim::IconName(sim::ClassIcon("Installer")); };
    RunToDirectoryDialog();
    EXPECT_EQ(icon, "INSTALL");
}

TEST_F(StartupTest, AWindowThatCannotBeMadeEndsTheRunQuietly)
{
    LayOutExample("[Install]\r\nApplication=Quillet\r\n[Files]\r\n");
    sim::FailCreateWindow();
    EXPECT_NE(Run(), 0);
    EXPECT_TRUE(sim::MessageBoxes().empty());
    EXPECT_TRUE(PostedSteps().empty());
    EXPECT_EQ(sim::LiveGdiObjects(), 0);
    EXPECT_EQ(sim::LiveGlobalBlocks(), 0);
}

TEST_F(StartupTest, TheMessagesComeInTheUsersLanguage)
{
    struct Row {
        LANGID language;
        const char *caption, *text;
    } rows[] = {
        { 1033, "Install", "Cannot open \"C:\\DIST\\SETUP.inf\" !" },
        { 1036, "Installer", "Ne peut ouvrir \"C:\\DIST\\SETUP.inf\" !" },
        { 1040, "Install", "Non pu\xF2 aprire \"C:\\DIST\\SETUP.inf\" !" },
        { 1031, "Install", "Cannot open \"C:\\DIST\\SETUP.inf\" !" },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.language);
        sim::Reset(sim::Sandbox());
        sim::SetLanguage(row.language);
        Run();
        ASSERT_EQ(sim::MessageBoxes().size(), 1u);
        EXPECT_EQ(sim::MessageBoxes()[0].caption, row.caption);
        EXPECT_EQ(sim::MessageBoxes()[0].text, row.text);
    }
}

}  // namespace
