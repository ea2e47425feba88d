// The copy dialog: its texts, the percentages it works out, the bars it paints pixel by pixel and
// paints again when their controls are painted anew, and the keys and buttons that must not stop a copy.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "SimFixture.h"
#include "core/InstallState.h"
#include "resources/resource.h"
#include "script/TextHelpers.h"
#include "ui/CopyDialog.h"

namespace {

const COLORREF BLUE = 0x00FF0000;
const COLORREF GREY = 0x00C0C0C0;
const COLORREF BLACK = 0x00000000;
const COLORREF WHITE = 0x00FFFFFF;
// The bars are 180 dialog units wide inside a border of one pixel.
const int BAR_WIDTH = 268;

std::string ColourName(COLORREF colour)
{
    switch (colour) {
    case BLUE: return "blue";
    case GREY: return "grey";
    case BLACK: return "black";
    case WHITE: return "white";
    default: {
        char text[16];
        snprintf(text, sizeof text, "%08X", (unsigned)colour);
        return text;
    }
    }
}

// One pixel row as runs of colour: "blue*134 black*1 grey*3 white*130".
std::string Runs(const sim::Pixels &pixels, int y)
{
    std::string runs;
    for (int x = 0; x < pixels.width;) {
        int end = x;
        while (end < pixels.width && pixels.at(end, y) == pixels.at(x, y))
            end++;
        runs += (runs.empty() ? "" : " ") + ColourName(pixels.at(x, y)) + "*" + std::to_string(end - x);
        x = end;
    }
    return runs;
}

// The runs of a bar, which must be the same on every row.
std::string BarRuns(HWND dialog, int id)
{
    sim::Pixels pixels = sim::WindowPixels(GetDlgItem(dialog, id));
    if (pixels.height == 0)
        return "no pixels";
    std::string first = Runs(pixels, 0);
    for (int y = 1; y < pixels.height; y++) {
        if (Runs(pixels, y) != first)
            return "row " + std::to_string(y) + " differs: " + Runs(pixels, y);
    }
    return first;
}

class CopyDialogTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        memset(&State, 0, sizeof State);
        State.Instance = sim::Instance();
        CopyString(State.CaptionText, VALUE_CAPACITY, "Quillet 2.1 Setup");
        State.FillBrush = CreateSolidBrush(BLUE);
        State.BandBrush = CreateSolidBrush(GREY);
        State.MainWindow = MakeTestWindow();
        dialog_ = CreateCopyDialog(State.MainWindow);
        ASSERT_NE(dialog_, (HWND)NULL);
    }

    void TearDown() override
    {
        EXPECT_EQ(sim::LiveDeviceContexts(), 0);
        // The brushes went back out of every device context.
        EXPECT_TRUE(DeleteObject(State.FillBrush));
        EXPECT_TRUE(DeleteObject(State.BandBrush));
        memset(&State, 0, sizeof State);
        SimTest::TearDown();
    }

    void Progress(int done, int total)
    {
        State.FileBytesDone = done;
        State.FileBytesTotal = total;
        SendMessageA(dialog_, WM_COMMAND, IDC_COPY_FILE_PERCENT, 0);
    }

    // Hands the dialog what the installer's loop would: every message waiting for it.
    void ServeDialog()
    {
        MSG msg;
        while (PeekMessageA(&msg, dialog_, 0, 0, PM_REMOVE))
            IsDialogMessageA(dialog_, &msg);
    }

    std::string Text(int id) const { return sim::ControlText(dialog_, id); }

    HWND dialog_ = NULL;
};

TEST_F(CopyDialogTest, OpensWithTheCaptionAndAnEmptyFileLine)
{
    EXPECT_EQ(sim::WindowText(dialog_), "Quillet 2.1 Setup");
    EXPECT_EQ(Text(IDC_COPY_OVERALL_PERCENT), "0 %");
    EXPECT_EQ(Text(IDC_COPY_FILE_PERCENT), "");
    EXPECT_EQ(Text(IDC_COPY_ENTRY), "");
    EXPECT_TRUE(IsWindowVisible(dialog_));
    EXPECT_EQ(sim::WindowOwner(dialog_), State.MainWindow);
}

TEST_F(CopyDialogTest, ANewEntryShowsValueAndLabelAndResetsTheFilePercentage)
{
    Progress(50, 100);
    std::string fileBar = BarRuns(dialog_, IDC_COPY_FILE_BAR);
    CopyString(State.EntryValue, VALUE_CAPACITY, "help\\Quillet.hlp;Quillet.hlp");
    CopyString(State.EntryKey, VALUE_CAPACITY, "Help");
    EXPECT_TRUE(SendMessageA(dialog_, WM_COMMAND, IDC_COPY_ENTRY, 0));
    EXPECT_EQ(Text(IDC_COPY_ENTRY), "help\\Quillet.hlp;Quillet.hlp : Help");
    EXPECT_EQ(Text(IDC_COPY_FILE_PERCENT), "0 %");
    // The bar keeps the previous file's drawing until the next progress.
    EXPECT_EQ(BarRuns(dialog_, IDC_COPY_FILE_BAR), fileBar);

    State.EntryKey[0] = '\0';
    SendMessageA(dialog_, WM_COMMAND, IDC_COPY_ENTRY, 0);
    EXPECT_EQ(Text(IDC_COPY_ENTRY), "help\\Quillet.hlp;Quillet.hlp : ");
}

TEST_F(CopyDialogTest, FilePercentagesAreTrueForEverySize)
{
    struct Row {
        int done, total;
        const char *text;
    } rows[] = {
        { 0, 0, "0 %" },
        { 0, 20000, "0 %" },
        { 8192, 20000, "40 %" },
        { 19999, 20000, "99 %" },
        // Past 21,474,836 bytes a 32-bit product would overflow.
        { 30000000, 40000000, "75 %" },
        { 2000000000, 2147483647, "93 %" },
        { 2147483646, 2147483647, "99 %" },
        { 2147483647, 2147483647, "100 %" },
        // A file that grew while it was copied does not count past the end.
        { 2147483647, 1, "100 %" },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::to_string(row.done) + " of " + std::to_string(row.total));
        Progress(row.done, row.total);
        EXPECT_EQ(Text(IDC_COPY_FILE_PERCENT), row.text);
    }
}

TEST_F(CopyDialogTest, TheOverallBarMovesOnlyWhenAFileIsComplete)
{
    State.TotalBytes = 2000000000;
    State.CopiedBytes = 1500000000;
    sim::Pixels before = sim::WindowPixels(GetDlgItem(dialog_, IDC_COPY_OVERALL_BAR));
    Progress(99, 100);
    EXPECT_EQ(Text(IDC_COPY_OVERALL_PERCENT), "0 %");
    EXPECT_EQ(sim::WindowPixels(GetDlgItem(dialog_, IDC_COPY_OVERALL_BAR)).data, before.data);

    Progress(100, 100);
    EXPECT_EQ(Text(IDC_COPY_OVERALL_PERCENT), "75 %");
    EXPECT_EQ(BarRuns(dialog_, IDC_COPY_OVERALL_BAR), "blue*201 black*1 grey*3 white*63");

    // An empty file stays at 0 % and leaves the overall figure as it was.
    State.CopiedBytes = State.TotalBytes;
    Progress(0, 0);
    EXPECT_EQ(Text(IDC_COPY_FILE_PERCENT), "0 %");
    EXPECT_EQ(BarRuns(dialog_, IDC_COPY_FILE_BAR), "black*1 grey*3 white*264");
    EXPECT_EQ(Text(IDC_COPY_OVERALL_PERCENT), "75 %");

    // Nothing to copy at all still reads 0 %.
    State.TotalBytes = 0;
    Progress(5, 5);
    EXPECT_EQ(Text(IDC_COPY_OVERALL_PERCENT), "0 %");
}

TEST_F(CopyDialogTest, ANewDialogGetsItsOwnBarsAndTexts)
{
    // The dialog remembers its bars and what its percentages show: none of that may outlive it.
    State.TotalBytes = 100;
    State.CopiedBytes = 100;
    Progress(100, 100);
    DestroyWindow(dialog_);
    dialog_ = CreateCopyDialog(State.MainWindow);
    ASSERT_NE(dialog_, (HWND)NULL);
    EXPECT_EQ(Text(IDC_COPY_OVERALL_PERCENT), "0 %");
    Progress(100, 100);
    EXPECT_EQ(Text(IDC_COPY_FILE_PERCENT), "100 %");
    EXPECT_EQ(Text(IDC_COPY_OVERALL_PERCENT), "100 %");
    EXPECT_EQ(BarRuns(dialog_, IDC_COPY_FILE_BAR), "blue*268");
    EXPECT_EQ(BarRuns(dialog_, IDC_COPY_OVERALL_BAR), "blue*268");
}

TEST_F(CopyDialogTest, BarsArePaintedBlueBlackGreyAndWhite)
{
    RECT client;
    ASSERT_TRUE(GetClientRect(GetDlgItem(dialog_, IDC_COPY_FILE_BAR), &client));
    ASSERT_EQ(client.right, BAR_WIDTH);
    struct Row {
        WORD percent;
        const char *runs;
    } rows[] = {
        { 0, "black*1 grey*3 white*264" },
        { 1, "blue*2 black*1 grey*3 white*262" },
        { 50, "blue*134 black*1 grey*3 white*130" },
        { 98, "blue*262 black*1 grey*3 white*2" },
        { 99, "blue*265 black*1 grey*2" },
        { 100, "blue*268" },
        { 150, "blue*268" },
        { 65535, "blue*268" },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.percent);
        DrawProgressBar(dialog_, IDC_COPY_FILE_BAR, row.percent);
        EXPECT_EQ(BarRuns(dialog_, IDC_COPY_FILE_BAR), row.runs);
    }
    // Only the named bar is painted.
    sim::Pixels overall = sim::WindowPixels(GetDlgItem(dialog_, IDC_COPY_OVERALL_BAR));
    for (COLORREF pixel : overall.data)
        ASSERT_NE(pixel, BLUE);
}

TEST_F(CopyDialogTest, NarrowBarsKeepTheirPartsInside)
{
    HWND bar = GetDlgItem(dialog_, IDC_COPY_FILE_BAR);
    struct Row {
        int width;
        WORD percent;
        const char *runs;
    } rows[] = {
        { 4, 0, "black*1 grey*3" },
        { 3, 0, "black*1 grey*2" },
        { 2, 0, "black*1 grey*1" },
        { 1, 0, "black*1" },
        { 3, 50, "blue*1 black*1 grey*1" },
        { 2, 50, "blue*1 black*1" },
        { 3, 100, "blue*3" },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::to_string(row.width) + " pixels at " + std::to_string(row.percent));
        // The border takes one pixel on each side.
        MoveWindow(bar, 0, 0, row.width + 2, 14, FALSE);
        DrawProgressBar(dialog_, IDC_COPY_FILE_BAR, row.percent);
        EXPECT_EQ(BarRuns(dialog_, IDC_COPY_FILE_BAR), row.runs);
    }
}

TEST_F(CopyDialogTest, ABarIsDrawnWhenItsFillChangesAndWhenItsControlIsPaintedAnew)
{
    HWND bar = GetDlgItem(dialog_, IDC_COPY_FILE_BAR);
    // 50 pixels: 50 and 51 % fill the same 25.
    MoveWindow(bar, 0, 0, 50 + 2, 14, FALSE);
    struct Row {
        int percent;
        int drawings;  // DCs taken for the bar so far
    } rows[] = { { 50, 1 }, { 51, 1 }, { 52, 2 }, { 52, 2 } };
    int before = sim::DeviceContextsTaken(bar);
    for (const Row &row : rows) {
        SCOPED_TRACE(row.percent);
        Progress(row.percent, 100);
        EXPECT_EQ(sim::DeviceContextsTaken(bar) - before, row.drawings);
    }
    EXPECT_EQ(BarRuns(dialog_, IDC_COPY_FILE_BAR), "blue*26 black*1 grey*3 white*20");

    // Uncovered, the control paints itself with the dialog's colour, then the bar is back at once.
    InvalidateRect(bar, NULL, TRUE);
    ServeDialog();
    EXPECT_EQ(BarRuns(dialog_, IDC_COPY_FILE_BAR), "blue*26 black*1 grey*3 white*20");
    // A bar never drawn stays as its control paints itself.
    InvalidateRect(GetDlgItem(dialog_, IDC_COPY_OVERALL_BAR), NULL, TRUE);
    ServeDialog();
    EXPECT_EQ(BarRuns(dialog_, IDC_COPY_OVERALL_BAR), "grey*268");
}

TEST_F(CopyDialogTest, OnlyTheCancelButtonAsksToCancel)
{
    sim::PressKey(dialog_, VK_ESCAPE);
    ServeDialog();
    sim::ClickCloseBox(dialog_);
    ServeDialog();
    ServeDialog();
    EXPECT_EQ(State.CancelRequested, 0);
    EXPECT_TRUE(IsWindow(dialog_));

    sim::PressButton(dialog_, IDC_COPY_CANCEL);
    ServeDialog();
    EXPECT_EQ(State.CancelRequested, 1);
    // The dialog stays until the copy engine has ended the copying.
    EXPECT_TRUE(IsWindow(dialog_));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog_, IDC_COPY_CANCEL)));
}

}  // namespace
