// The modeless copy dialog: the current [Files] entry, a bar and a percentage for the file and for
// the whole installation, and a Cancel button that only raises CancelRequested.
#include "ui/CopyDialog.h"

#include "core/InstallState.h"
#include "core/RunFrame.h"
#include "resources/resource.h"
#include "ui/DirectoryDialog.h"

enum {
    PERCENT_CAPACITY = 8,  // "100 %" and its NUL, with room to spare
    BAND_WIDTH = 3,        // grey pixels after the bar's black line
    LINE_WIDTH = 1,
};

static const char COPY_TEMPLATE[] = "Copy";
static const LONG NOT_SHOWN = -1;
static const char ZERO_PERCENT[] = "0 %";
static const char PERCENT_FORMAT[] = "%ld %%";
static const char LABEL_FORMAT[] = "%s : %s";

// The controls the copy changes, found once per dialog, since each lookup is a call into the window
// system; and what they show. A bar is drawn straight onto its static control and only when its
// filled width changes, so the control's own painting, which leaves it empty, is followed by the
// bar's last drawing at once.
struct ShownControl {
    int Id;
    HWND Window;
    LONG Percent;  // the percentage shown or drawn, NOT_SHOWN before the first
    int Width;     // a bar's filled width as last drawn
};
enum { ENTRY_TEXT, FILE_BAR, FILE_PERCENT, OVERALL_BAR, OVERALL_PERCENT, SHOWN_CONTROLS };
static ShownControl Shown[SHOWN_CONTROLS] = {
    { IDC_COPY_ENTRY, NULL, NOT_SHOWN, 0 },       { IDC_COPY_FILE_BAR, NULL, NOT_SHOWN, 0 },
    { IDC_COPY_FILE_PERCENT, NULL, NOT_SHOWN, 0 }, { IDC_COPY_OVERALL_BAR, NULL, NOT_SHOWN, 0 },
    { IDC_COPY_OVERALL_PERCENT, NULL, NOT_SHOWN, 0 },
};
static HWND ShownDialog;
// The static controls' own procedure, which the bars' procedure hands every message to.
static WNDPROC StaticProc;

HWND CreateCopyDialog(HWND owner)
{
    if (Run.Silent)
        return NULL;
    return CreateDialogParamA(State.Instance, COPY_TEMPLATE, owner, CopyDialogProc, 0);
}

// The entry of Shown for the control `id` of `dialog`, or null for a control of another dialog or
// one the copy does not change.
static ShownControl *FindShown(HWND dialog, int id)
{
    if (dialog == NULL || dialog != ShownDialog)
        return NULL;
    for (ShownControl &control : Shown) {
        if (control.Id == id)
            return &control;
    }
    return NULL;
}

static HWND ControlOf(HWND dialog, int id)
{
    ShownControl *control = FindShown(dialog, id);
    return control != NULL ? control->Window : GetDlgItem(dialog, id);
}

// The width of a bar `width` pixels wide filled to `percent`.
static int FilledWidth(WORD percent, int width)
{
    return (int)((LONGLONG)percent * width / PERCENT_FULL);
}

// Paints `bar` filled to `percent`: blue, a black line, a grey band, white. Returns the filled width.
static int PaintBar(HWND bar, WORD percent)
{
    RECT client;
    GetClientRect(bar, &client);
    int width = client.right;
    int height = client.bottom;
    int filled = FilledWidth(percent, width);
    HDC dc = GetDC(bar);
    if (dc == NULL)
        return filled;
    HGDIOBJ former = SelectObject(dc, State.FillBrush);
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
    return filled;
}

void DrawProgressBar(HWND dialog, WORD id, WORD percent)
{
    HWND bar = ControlOf(dialog, id);
    // Without its control there is nothing to draw on; a null window would be the whole screen.
    if (bar == NULL)
        return;
    int filled = PaintBar(bar, percent);
    if (ShownControl *shown = FindShown(dialog, id)) {
        shown->Percent = percent;
        shown->Width = filled;
    }
}

// A bar of the dialog shown at `percent`: drawn only when its filled width changes.
static void ShowBar(HWND dialog, int index, LONG percent)
{
    ShownControl &bar = Shown[index];
    if (bar.Percent != NOT_SHOWN && bar.Window != NULL) {
        RECT client;
        GetClientRect(bar.Window, &client);
        if (FilledWidth((WORD)percent, client.right) == bar.Width)
            return;
    }
    DrawProgressBar(dialog, (WORD)bar.Id, (WORD)percent);
}

// The bars' procedure: the static control paints itself empty, then the bar as it was last drawn.
static LRESULT CALLBACK BarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = CallWindowProcA(StaticProc, window, message, wParam, lParam);
    if (message != WM_PAINT)
        return result;
    for (const ShownControl &bar : Shown) {
        if (bar.Window == window && bar.Percent != NOT_SHOWN)
            PaintBar(window, (WORD)bar.Percent);
    }
    return result;
}

LONG ProgressPercentage(int part, int whole)
{
    // In 64 bits, so that sizes up to 2^31 - 1 cannot overflow; 0 for an empty whole. Kept within
    // 100, since a file that grew while it was copied would otherwise count past the end and past
    // the text's room.
    if (whole <= 0 || part <= 0)
        return 0;
    LONGLONG percent = (LONGLONG)part * PERCENT_FULL / whole;
    if (percent > PERCENT_FULL)
        return PERCENT_FULL;
    return (LONG)percent;
}

static void ShowPercentage(int index, LONG percent)
{
    ShownControl &text = Shown[index];
    if (percent == text.Percent)
        return;
    text.Percent = percent;
    char buffer[PERCENT_CAPACITY];
    // At most "100 %": fits.
    wsprintfA(buffer, PERCENT_FORMAT, percent);
    SetWindowTextA(text.Window, buffer);
}

// Command 256: the entry in EntryValue (destination and source still joined) and EntryKey.
static void ShowEntry(HWND dialog)
{
    // Two values of at most 127 characters: far within the buffer.
    wsprintfA(State.CopyBuffer, LABEL_FORMAT, State.EntryValue, State.EntryKey);
    SetWindowTextA(ControlOf(dialog, IDC_COPY_ENTRY), State.CopyBuffer);
    SetWindowTextA(ControlOf(dialog, IDC_COPY_FILE_PERCENT), ZERO_PERCENT);
    if (ShownControl *text = FindShown(dialog, IDC_COPY_FILE_PERCENT))
        text->Percent = 0;
}

// Command 260: the file's bar and percentage; the overall ones only once the file is complete.
static void ShowProgress(HWND dialog)
{
    LONG file = ProgressPercentage(State.FileBytesDone, State.FileBytesTotal);
    ShowBar(dialog, FILE_BAR, file);
    ShowPercentage(FILE_PERCENT, file);
    if (file != PERCENT_FULL)
        return;
    LONG overall = ProgressPercentage(State.CopiedBytes, State.TotalBytes);
    ShowBar(dialog, OVERALL_BAR, overall);
    ShowPercentage(OVERALL_PERCENT, overall);
}

// Finds the controls the copy changes and puts the bars' procedure over theirs.
static void FindShownControls(HWND dialog)
{
    ShownDialog = dialog;
    for (ShownControl &control : Shown) {
        control.Window = GetDlgItem(dialog, control.Id);
        control.Percent = NOT_SHOWN;
        control.Width = 0;
    }
    for (const ShownControl &control : Shown) {
        if ((control.Id != IDC_COPY_FILE_BAR && control.Id != IDC_COPY_OVERALL_BAR) || control.Window == NULL)
            continue;
        WNDPROC former = (WNDPROC)SetWindowLongPtrA(control.Window, GWLP_WNDPROC, (LONG_PTR)BarProc);
        // Every static control has the class's procedure, the one the bars' procedure calls.
        if (former != NULL && former != BarProc)
            StaticProc = former;
    }
}

INT_PTR CALLBACK CopyDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        CenterWindow(GetWindow(dialog, GW_OWNER), dialog);
        SetWindowTextA(dialog, State.CaptionText);
        FindShownControls(dialog);
        SetWindowTextA(Shown[OVERALL_PERCENT].Window, ZERO_PERCENT);
        Shown[OVERALL_PERCENT].Percent = 0;
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
            // The copy engine looks at the flag when its next step is due.
            State.CancelRequested = 1;
            return TRUE;
        }
        // Escape and the close box (IDCANCEL) must not stop a copy half done.
        return FALSE;
    }
    return FALSE;
}
