// The modeless copy dialog: the current [Files] entry, a bar and a percentage for the file and for
// the whole installation, and a Cancel button that only raises CancelRequested.
#include "ui/CopyDialog.h"

#include "core/InstallState.h"
#include "core/RunFrame.h"
#include "resources/resource.h"
#include "ui/DirectoryDialog.h"

enum {
    PERCENT_CAPACITY = 8,  // "100 %" and its NUL, with room to spare
    PERCENT_FULL = 100,
    BAND_WIDTH = 3,        // grey pixels after the bar's black line
    LINE_WIDTH = 1,
};

static const char COPY_TEMPLATE[] = "Copy";
// The dialog is updated after every chunk, and each call into the window system is costly: its
// bars are found once, and a percentage is only written when it changes.
static HWND BarDialog;
static HWND FileBar;
static HWND OverallBar;
static LONG ShownFilePercent;
static LONG ShownOverallPercent;
static const LONG NOT_SHOWN = -1;
static const char ZERO_PERCENT[] = "0 %";
static const char PERCENT_FORMAT[] = "%ld %%";
static const char LABEL_FORMAT[] = "%s : %s";

HWND CreateCopyDialog(HWND owner)
{
    if (Run.Silent)
        return NULL;
    return CreateDialogParamA(State.Instance, COPY_TEMPLATE, owner, CopyDialogProc, 0);
}

// The bar control `id` of `dialog`, looked up once per dialog.
static HWND FindBar(HWND dialog, WORD id)
{
    if (dialog != BarDialog) {
        BarDialog = dialog;
        FileBar = GetDlgItem(dialog, IDC_COPY_FILE_BAR);
        OverallBar = GetDlgItem(dialog, IDC_COPY_OVERALL_BAR);
    }
    if (id == IDC_COPY_FILE_BAR)
        return FileBar;
    if (id == IDC_COPY_OVERALL_BAR)
        return OverallBar;
    return GetDlgItem(dialog, id);
}

void DrawProgressBar(HWND dialog, WORD id, WORD percent)
{
    HWND bar = FindBar(dialog, id);
    // Without its control there is nothing to draw on; a null window would be the whole screen.
    if (bar == NULL)
        return;
    RECT client;
    GetClientRect(bar, &client);
    int width = client.right;
    int height = client.bottom;
    HDC dc = GetDC(bar);
    if (dc == NULL)
        return;
    HGDIOBJ former = SelectObject(dc, State.FillBrush);
    int filled = (int)((LONGLONG)percent * width / PERCENT_FULL);
    PatBlt(dc, 0, 0, filled, height, PATCOPY);
    if (filled < width)
        PatBlt(dc, filled, 0, LINE_WIDTH, height, BLACKNESS);
    SelectObject(dc, State.BandBrush);
    int band = filled + LINE_WIDTH;
    if (band < width)
        PatBlt(dc, band, 0, width - band < BAND_WIDTH ? width - band : BAND_WIDTH, height, PATCOPY);
    int rest = band + BAND_WIDTH;
    if (rest < width)
        PatBlt(dc, rest, 0, width - rest, height, WHITENESS);
    SelectObject(dc, former);
    ReleaseDC(bar, dc);
}

// `part` of `whole` in percent, truncated, in 64 bits so that sizes up to 2^31 - 1 cannot overflow.
// 0 for an empty whole; kept within 0..100, since a file that grew while it was copied would
// otherwise count past the end and past the text's room.
static LONG Percentage(int part, int whole)
{
    if (whole <= 0 || part <= 0)
        return 0;
    LONGLONG percent = (LONGLONG)part * PERCENT_FULL / whole;
    if (percent > PERCENT_FULL)
        return PERCENT_FULL;
    return (LONG)percent;
}

static void ShowPercentage(HWND dialog, int id, LONG percent, LONG *shown)
{
    if (percent == *shown)
        return;
    *shown = percent;
    char text[PERCENT_CAPACITY];
    // At most "100 %": fits.
    wsprintfA(text, PERCENT_FORMAT, percent);
    SetDlgItemTextA(dialog, id, text);
}

// Command 256: the entry in EntryValue (destination and source still joined) and EntryKey.
static void ShowEntry(HWND dialog)
{
    // Two values of at most 127 characters: far within the buffer.
    wsprintfA(State.CopyBuffer, LABEL_FORMAT, State.EntryValue, State.EntryKey);
    SetDlgItemTextA(dialog, IDC_COPY_ENTRY, State.CopyBuffer);
    SetDlgItemTextA(dialog, IDC_COPY_FILE_PERCENT, ZERO_PERCENT);
    ShownFilePercent = 0;
}

// Command 260: the file's bar and percentage; the overall ones only once the file is complete.
static void ShowProgress(HWND dialog)
{
    LONG file = Percentage(State.FileBytesDone, State.FileBytesTotal);
    DrawProgressBar(dialog, IDC_COPY_FILE_BAR, (WORD)file);
    ShowPercentage(dialog, IDC_COPY_FILE_PERCENT, file, &ShownFilePercent);
    if (file != PERCENT_FULL)
        return;
    LONG overall = Percentage(State.CopiedBytes, State.TotalBytes);
    DrawProgressBar(dialog, IDC_COPY_OVERALL_BAR, (WORD)overall);
    ShowPercentage(dialog, IDC_COPY_OVERALL_PERCENT, overall, &ShownOverallPercent);
}

INT_PTR CALLBACK CopyDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        CenterWindow(GetWindow(dialog, GW_OWNER), dialog);
        SetWindowTextA(dialog, State.CaptionText);
        SetDlgItemTextA(dialog, IDC_COPY_OVERALL_PERCENT, ZERO_PERCENT);
        BarDialog = NULL;
        ShownOverallPercent = 0;
        ShownFilePercent = NOT_SHOWN;
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_COPY_ENTRY:
            ShowEntry(dialog);
            return TRUE;
        case IDC_COPY_FILE_PERCENT:
            ShowProgress(dialog);
            return TRUE;
        case IDC_COPY_CANCEL:
            // The copy engine looks at the flag when its next chunk is due.
            State.CancelRequested = 1;
            return TRUE;
        }
        // Escape and the close box (IDCANCEL) must not stop a copy half done.
        return FALSE;
    }
    return FALSE;
}
