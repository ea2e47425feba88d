// chain.exe [--emulate PARTS] [--times] LIST: the copy engine's chain without the installer around it.
// A window posts itself one message to open each file pair of LIST and one message per 8192-byte chunk
// (ReadFile, WriteFile through one static buffer), opens source and destination with the installer's
// flags, cuts the destination to its length and gives it the source's times, then prints the time from
// the first step to the last as one JSON line.
//
// --emulate PARTS (comma-separated) adds, for finding where the installer's time goes, what the installer
// does around the chain:
//   dialog   a modeless dialog laid out like the installer's, its messages through IsDialogMessageA
//   bar      the file bar drawn after every chunk as the installer draws it (control looked up each time)
//   text     the file percentage set after every chunk (control looked up each time)
//   label    the entry's label and "0 %" at each file
//   window   the chain's window shown full-screen like the installer's main window, owning the dialog,
//            which is centred over it (so under a pointer left in the middle of the screen)
//   peek     the installer's message loop: a PeekMessageA filtered on the dialog before each GetMessageA
//   all      dialog, bar, text, label, window and peek: the installer's copy phase as it was with one
//            posted step per chunk (it now copies chunks for about 10 ms a step)
// and changes that keep a bar and a percentage after every chunk:
//   cache      the two controls looked up once instead of after every chunk
//   sametext   the percentage set only when its text changes
//   samebar    the bar drawn only when its filled width changes
//   inputpeek  instead of the filtered peek, a PeekMessageA of input messages for any window
//   throttle   the dialog served first (either peek) only when 10 ms have passed since the last time
// --times adds the milliseconds spent in each kind of call; the rest is the message loop.
// The result line also carries the process's own processor time ("cpu_ms", user and kernel).
#include <stdio.h>
#include <string.h>

#include "PerfCommon.h"
#include "chain.h"

enum {
    CHUNK_SIZE = 8192,
    WM_CHAIN_NEXT_FILE = WM_USER + 1,
    WM_CHAIN_CHUNK = WM_USER + 2,
    WM_CHAIN_DONE = WM_USER + 3,
    PERCENT_FULL = 100,
    TEXT_CAPACITY = 300,
    FILETIME_TICKS_PER_MS = 10000,
    SERVE_INTERVAL_MS = 10,
    EXIT_OK = 0,
    EXIT_FAILED = 1,
    EXIT_USAGE = 2,
};

// The installer's bar colours.
static const COLORREF FILL_COLOR = RGB(0, 0, 255);
static const COLORREF BAND_COLOR = RGB(192, 192, 192);
static const int BAND_WIDTH = 3;

enum Part { PART_OPEN, PART_READ, PART_WRITE, PART_COMPLETE, PART_NOTIFY, PART_COUNT };
static const char *const PART_NAMES[PART_COUNT] = { "open", "read", "write", "complete", "notify" };

static struct {
    std::vector<FilePair> Pairs;
    size_t Next;
    HANDLE Source, Destination;
    char Buffer[CHUNK_SIZE];
    LONG FileDone, FileTotal;
    bool Dialog, Bar, Text, Label, Window, Peek, Cache, SameText, SameBar, InputPeek, Throttle, Times;
    double LastServed;
    HWND FileBar, FilePercent;
    int LastPercent, LastFilled;
    HWND CopyDialog;
    HBRUSH FillBrush, BandBrush;
    double Spent[PART_COUNT];
    double Mark;
    long long Bytes;
    long Steps;
    int Failures;
} Chain;

static void StartPart(void)
{
    if (Chain.Times)
        Chain.Mark = NowMs();
}

static void EndPart(Part part)
{
    if (Chain.Times)
        Chain.Spent[part] += NowMs() - Chain.Mark;
}

// The installer's bar: four pattern fills into the bordered static.
static void DrawBar(HWND dialog, int id, int percent)
{
    HWND bar = Chain.Cache ? Chain.FileBar : GetDlgItem(dialog, id);
    RECT client;
    GetClientRect(bar, &client);
    int width = client.right, height = client.bottom;
    if (Chain.SameBar && percent * width / PERCENT_FULL == Chain.LastFilled)
        return;
    Chain.LastFilled = percent * width / PERCENT_FULL;
    HDC dc = GetDC(bar);
    HGDIOBJ former = SelectObject(dc, Chain.FillBrush);
    int filled = percent * width / PERCENT_FULL;
    PatBlt(dc, 0, 0, filled, height, PATCOPY);
    if (filled < width)
        PatBlt(dc, filled, 0, 1, height, BLACKNESS);
    SelectObject(dc, Chain.BandBrush);
    int band = filled + 1;
    if (band < width)
        PatBlt(dc, band, 0, width - band < BAND_WIDTH ? width - band : BAND_WIDTH, height, PATCOPY);
    if (band + BAND_WIDTH < width)
        PatBlt(dc, band + BAND_WIDTH, 0, width - band - BAND_WIDTH, height, WHITENESS);
    SelectObject(dc, former);
    ReleaseDC(bar, dc);
}

static void ShowProgress(void)
{
    if (Chain.CopyDialog == NULL)
        return;
    StartPart();
    int percent = Chain.FileTotal > 0 ? (int)((long long)Chain.FileDone * PERCENT_FULL / Chain.FileTotal) : 0;
    if (Chain.Bar)
        DrawBar(Chain.CopyDialog, IDC_CHAIN_FILE_BAR, percent);
    if (Chain.Text && !(Chain.SameText && percent == Chain.LastPercent)) {
        char text[TEXT_CAPACITY];
        wsprintfA(text, "%ld %%", (long)percent);
        if (Chain.Cache)
            SetWindowTextA(Chain.FilePercent, text);
        else
            SetDlgItemTextA(Chain.CopyDialog, IDC_CHAIN_FILE_PERCENT, text);
        Chain.LastPercent = percent;
    }
    EndPart(PART_NOTIFY);
}

static void ShowEntry(const FilePair &pair)
{
    if (Chain.CopyDialog == NULL || !Chain.Label)
        return;
    StartPart();
    char text[TEXT_CAPACITY];
    // The destination alone: the label is here for its cost, not its words.
    lstrcpynA(text, pair.Destination.c_str(), TEXT_CAPACITY);
    SetDlgItemTextA(Chain.CopyDialog, IDC_CHAIN_ENTRY, text);
    SetDlgItemTextA(Chain.CopyDialog, IDC_CHAIN_FILE_PERCENT, "0 %");
    Chain.LastPercent = 0;
    Chain.LastFilled = -1;
    EndPart(PART_NOTIFY);
}

static void CloseFiles(void)
{
    CloseHandle(Chain.Source);
    CloseHandle(Chain.Destination);
    Chain.Source = Chain.Destination = NULL;
}

static void NextFile(HWND window)
{
    if (Chain.Next == Chain.Pairs.size()) {
        PostMessageA(window, WM_CHAIN_DONE, 0, 0);
        return;
    }
    const FilePair &pair = Chain.Pairs[Chain.Next++];
    ShowEntry(pair);
    StartPart();
    Chain.Source = CreateFileA(pair.Source.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                               FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    Chain.Destination = CreateFileA(pair.Destination.c_str(), GENERIC_WRITE, 0, NULL, OPEN_ALWAYS,
                                    FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (Chain.Source == INVALID_HANDLE_VALUE || Chain.Destination == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "chain: cannot open %s or %s (error %lu)\n", pair.Source.c_str(), pair.Destination.c_str(),
                GetLastError());
        Chain.Failures++;
        PostMessageA(window, WM_CHAIN_DONE, 0, 0);
        return;
    }
    // The size as the installer measures it: by seeking.
    HFILE handle = (HFILE)(INT_PTR)Chain.Source;
    LONG position = _llseek(handle, 0, FILE_CURRENT);
    Chain.FileTotal = _llseek(handle, 0, FILE_END);
    _llseek(handle, position, FILE_BEGIN);
    Chain.FileDone = 0;
    EndPart(PART_OPEN);
    ShowProgress();
    PostMessageA(window, WM_CHAIN_CHUNK, 0, 0);
}

static void CopyChunk(HWND window)
{
    Chain.Steps++;
    DWORD read = 0, written = 0;
    StartPart();
    BOOL readOk = ReadFile(Chain.Source, Chain.Buffer, CHUNK_SIZE, &read, NULL);
    EndPart(PART_READ);
    if (!readOk) {
        fprintf(stderr, "chain: read error %lu\n", GetLastError());
        Chain.Failures++;
        CloseFiles();
        PostMessageA(window, WM_CHAIN_DONE, 0, 0);
        return;
    }
    if (read > 0) {
        StartPart();
        BOOL writeOk = WriteFile(Chain.Destination, Chain.Buffer, read, &written, NULL);
        EndPart(PART_WRITE);
        if (!writeOk || written != read) {
            fprintf(stderr, "chain: write error %lu\n", GetLastError());
            Chain.Failures++;
            CloseFiles();
            PostMessageA(window, WM_CHAIN_DONE, 0, 0);
            return;
        }
        Chain.FileDone += (LONG)written;
        Chain.Bytes += written;
        ShowProgress();
    }
    if (read == CHUNK_SIZE) {
        PostMessageA(window, WM_CHAIN_CHUNK, 0, 0);
        return;
    }
    StartPart();
    SetEndOfFile(Chain.Destination);
    FILETIME creation, lastAccess, lastWrite;
    if (GetFileTime(Chain.Source, &creation, &lastAccess, &lastWrite))
        SetFileTime(Chain.Destination, &creation, &lastAccess, &lastWrite);
    CloseFiles();
    EndPart(PART_COMPLETE);
    PostMessageA(window, WM_CHAIN_NEXT_FILE, 0, 0);
}

static LRESULT CALLBACK ChainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CHAIN_NEXT_FILE:
        NextFile(window);
        return 0;
    case WM_CHAIN_CHUNK:
        CopyChunk(window);
        return 0;
    case WM_CHAIN_DONE:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

static INT_PTR CALLBACK CopyDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

// Comma-separated part names (above); false on an unknown one.
static bool ParseParts(const char *text)
{
    static const struct {
        const char *Name;
        bool *Flag;
        bool InAll;
    } parts[] = {
        { "dialog", &Chain.Dialog, true },     { "bar", &Chain.Bar, true },
        { "text", &Chain.Text, true },         { "label", &Chain.Label, true },
        { "window", &Chain.Window, true },     { "peek", &Chain.Peek, true },
        { "cache", &Chain.Cache, false },      { "sametext", &Chain.SameText, false },
        { "samebar", &Chain.SameBar, false },  { "inputpeek", &Chain.InputPeek, false },
        { "throttle", &Chain.Throttle, false },
    };
    std::string words = std::string(text) + ",";
    for (size_t start = 0, comma; (comma = words.find(',', start)) != std::string::npos; start = comma + 1) {
        std::string word = words.substr(start, comma - start);
        bool known = word == "all" || word == "none";
        for (const auto &part : parts) {
            if (word == part.Name || (word == "all" && part.InAll)) {
                *part.Flag = true;
                known = true;
            }
        }
        if (!known)
            return false;
    }
    // Painting and peeking need the dialog.
    Chain.Dialog = Chain.Dialog || Chain.Bar || Chain.Text || Chain.Label || Chain.Peek || Chain.InputPeek;
    return true;
}

// The loop's serving of the dialog before each GetMessageA; false when the quit message came.
static bool ServeDialogFirst(MSG *message)
{
    if (Chain.CopyDialog == NULL)
        return true;
    if (Chain.Throttle) {
        // The performance counter costs no trip to the wineserver; a peek does.
        double now = NowMs();
        if (now - Chain.LastServed < SERVE_INTERVAL_MS)
            return true;
        Chain.LastServed = now;
    }
    if (Chain.InputPeek) {
        // Input for any window of the thread: nothing stays pending for the next round.
        while (PeekMessageA(message, NULL, 0, 0, PM_REMOVE | PM_QS_INPUT)) {
            if (message->message == WM_QUIT)
                return false;
            if (!IsDialogMessageA(Chain.CopyDialog, message)) {
                TranslateMessage(message);
                DispatchMessageA(message);
            }
        }
    } else if (Chain.Peek) {
        while (PeekMessageA(message, Chain.CopyDialog, 0, 0, PM_REMOVE)) {
            if (message->message == WM_QUIT)
                return false;
            IsDialogMessageA(Chain.CopyDialog, message);
        }
    }
    return true;
}

int main(int argc, char **argv)
{
    int arg = 1;
    bool usage = false;
    for (; arg < argc && strncmp(argv[arg], "--", 2) == 0; arg++) {
        if (strcmp(argv[arg], "--times") == 0)
            Chain.Times = true;
        else if (strcmp(argv[arg], "--emulate") == 0 && arg + 1 < argc)
            usage = usage || !ParseParts(argv[++arg]);
        else
            usage = true;
    }
    if (usage || argc - arg != 1) {
        fprintf(stderr, "usage: chain.exe [--emulate PART,...] [--times] LIST\n");
        return EXIT_USAGE;
    }
    if (!ReadFileList(argv[arg], &Chain.Pairs))
        return EXIT_USAGE;

    HINSTANCE instance = GetModuleHandleA(NULL);
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = ChainProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "BareChain";
    RegisterClassA(&windowClass);
    HWND window = Chain.Window ? CreateWindowExA(0, "BareChain", "chain", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0,
                                                 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                                 NULL, NULL, instance, NULL)
                               : CreateWindowExA(0, "BareChain", "chain", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, NULL,
                                                 NULL, instance, NULL);
    if (window == NULL) {
        fprintf(stderr, "chain: no window (error %lu)\n", GetLastError());
        return EXIT_FAILED;
    }
    if (Chain.Window) {
        ShowWindow(window, SW_SHOW);
        UpdateWindow(window);
    }
    if (Chain.Dialog) {
        Chain.FillBrush = CreateSolidBrush(FILL_COLOR);
        Chain.BandBrush = CreateSolidBrush(BAND_COLOR);
        Chain.CopyDialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_CHAIN_COPY), Chain.Window ? window : NULL,
                                              CopyDialogProc, 0);
        if (Chain.CopyDialog == NULL) {
            fprintf(stderr, "chain: no dialog (error %lu)\n", GetLastError());
            return EXIT_FAILED;
        }
        if (Chain.Window) {
            RECT rect;
            GetWindowRect(Chain.CopyDialog, &rect);
            int width = rect.right - rect.left, height = rect.bottom - rect.top;
            SetWindowPos(Chain.CopyDialog, NULL, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                         (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        }
        Chain.FileBar = GetDlgItem(Chain.CopyDialog, IDC_CHAIN_FILE_BAR);
        Chain.FilePercent = GetDlgItem(Chain.CopyDialog, IDC_CHAIN_FILE_PERCENT);
    }

    double start = NowMs();
    PostMessageA(window, WM_CHAIN_NEXT_FILE, 0, 0);
    MSG message;
    while (ServeDialogFirst(&message) && GetMessageA(&message, NULL, 0, 0) > 0) {
        if (Chain.CopyDialog != NULL && IsDialogMessageA(Chain.CopyDialog, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    double elapsed = NowMs() - start;
    if (Chain.CopyDialog != NULL)
        DestroyWindow(Chain.CopyDialog);
    DestroyWindow(window);

    FILETIME creation, exit, kernel, user;
    double cpuMs = -1;
    if (GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user)) {
        ULARGE_INTEGER k = { { kernel.dwLowDateTime, kernel.dwHighDateTime } };
        ULARGE_INTEGER u = { { user.dwLowDateTime, user.dwHighDateTime } };
        cpuMs = (double)(k.QuadPart + u.QuadPart) / FILETIME_TICKS_PER_MS;
    }
    printf("{\"program\":\"chain\",\"files\":%u,\"bytes\":%lld,\"chunk_steps\":%ld,\"ms\":%.3f,\"cpu_ms\":%.1f",
           (unsigned)Chain.Pairs.size(), Chain.Bytes, Chain.Steps, elapsed, cpuMs);
    if (Chain.Times)
        for (int part = 0; part < PART_COUNT; part++)
            printf(",\"%s_ms\":%.3f", PART_NAMES[part], Chain.Spent[part]);
    printf(",\"failures\":%d}\n", Chain.Failures);
    return Chain.Failures == 0 ? EXIT_OK : EXIT_FAILED;
}
