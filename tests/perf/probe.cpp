// probe.exe [--limit SECONDS] [--samples FILE] [--cancel-at PERCENT [--watch PATH]]: the copy dialog's
// responsiveness, measured from outside. Waits for a visible dialog with a control 261 (the copy
// dialog's Cancel button), then sends it WM_NULL again and again with SendMessageTimeout and times each
// round trip with the performance counter, until the dialog is gone. The installer's single thread
// answers a sent message only between two steps of its work, so a round trip is at most the longest
// step plus the delivery. Prints count, median, 99th percentile and maximum as one JSON line;
// --samples writes every round trip (ms, one a line).
// With --cancel-at, once the file's percentage (control 260) reads PERCENT or more, it clicks Cancel
// as a hand on the mouse does (the pointer to the button's centre, the button pressed and let go
// through SendInput) and watches the file being written, --watch PATH (the copy's temporary file),
// until the copy dialog is gone. It prints the time from the click to the copy's stop (the last time
// the file was seen to grow, or its first look after the click when it grew no more) and to the
// dialog's close, which comes once the installer has removed the file.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "PerfCommon.h"

enum {
    COPY_CANCEL_ID = 261,
    FILE_PERCENT_ID = 260,
    FIND_POLL_MS = 1,
    // How often the dialog is looked at while the click is awaited, and after it.
    CANCEL_POLL_MS = 1,
    TEXT_CAPACITY = 32,
    // A step never takes this long; a round trip that does means the installer hung.
    SEND_TIMEOUT_MS = 30000,
    DEFAULT_LIMIT_SECONDS = 600,
    NAME_CAPACITY = 64,
    EXIT_OK = 0,
    EXIT_FAILED = 1,
    EXIT_USAGE = 2,
};

static BOOL CALLBACK FindCopyDialog(HWND window, LPARAM found)
{
    char name[NAME_CAPACITY];
    if (!IsWindowVisible(window) || !GetClassNameA(window, name, NAME_CAPACITY) || strcmp(name, "#32770") != 0 ||
        GetDlgItem(window, COPY_CANCEL_ID) == NULL)
        return TRUE;
    *(HWND *)found = window;
    return FALSE;
}

// The size of `path`, or -1 when it is not there.
static LONGLONG FileSizeOf(const char *path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return -1;
    return ((LONGLONG)data.nFileSizeHigh << 32) | data.nFileSizeLow;
}

// Clicks Cancel once the file's percentage reaches `percent`; prints the delays until the copy of
// `watched` stops and until the dialog is gone. Returns the exit code.
static int MeasureCancel(HWND dialog, int percent, const char *watched, double deadline)
{
    HWND cancel = GetDlgItem(dialog, COPY_CANCEL_ID);
    HWND shown = GetDlgItem(dialog, FILE_PERCENT_ID);
    wchar_t text[TEXT_CAPACITY];
    int seen = -1;
    // The text the system keeps, read without waiting for the installer's thread.
    while (IsWindow(dialog) && NowMs() < deadline) {
        text[0] = L'\0';
        InternalGetWindowText(shown, text, TEXT_CAPACITY);
        if (text[0] >= L'0' && text[0] <= L'9' && (seen = _wtoi(text)) >= percent)
            break;
        Sleep(CANCEL_POLL_MS);
    }
    if (seen < percent) {
        printf("{\"program\":\"probe\",\"error\":\"the copy dialog went before %d %%\"}\n", percent);
        return EXIT_FAILED;
    }
    RECT rect;
    GetWindowRect(cancel, &rect);
    SetCursorPos((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    INPUT press[2];
    memset(press, 0, sizeof press);
    press[0].type = press[1].type = INPUT_MOUSE;
    press[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    press[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    double clicked = NowMs();
    if (SendInput(2, press, sizeof press[0]) != 2) {
        printf("{\"program\":\"probe\",\"error\":\"SendInput failed (%lu)\"}\n", GetLastError());
        return EXIT_FAILED;
    }
    LONGLONG size = -1;
    double stopped = -1;
    while (IsWindow(dialog) && IsWindowVisible(dialog) && NowMs() < deadline) {
        LONGLONG now = watched != NULL ? FileSizeOf(watched) : -1;
        if (now > size || stopped < 0) {
            stopped = NowMs();
            if (now > size)
                size = now;
        }
        Sleep(CANCEL_POLL_MS);
    }
    double closed = NowMs() - clicked;
    if (IsWindow(dialog) && IsWindowVisible(dialog)) {
        printf("{\"program\":\"probe\",\"error\":\"the copy dialog stayed after the click\"}\n");
        return EXIT_FAILED;
    }
    printf("{\"program\":\"probe\",\"cancel_ms\":%.3f,\"closed_ms\":%.3f,\"percent_at_click\":%d}\n",
           stopped - clicked, closed, seen);
    return EXIT_OK;
}

static double Percentile(const std::vector<double> &sorted, double fraction)
{
    size_t at = (size_t)(fraction * (double)(sorted.size() - 1) + 0.5);
    return sorted[std::min(at, sorted.size() - 1)];
}

int main(int argc, char **argv)
{
    int limitSeconds = DEFAULT_LIMIT_SECONDS;
    const char *samplesPath = NULL;
    int cancelAt = -1;
    const char *watched = NULL;
    for (int arg = 1; arg < argc; arg += 2) {
        if (arg + 1 < argc && strcmp(argv[arg], "--limit") == 0) {
            limitSeconds = atoi(argv[arg + 1]);
        } else if (arg + 1 < argc && strcmp(argv[arg], "--samples") == 0) {
            samplesPath = argv[arg + 1];
        } else if (arg + 1 < argc && strcmp(argv[arg], "--cancel-at") == 0) {
            cancelAt = atoi(argv[arg + 1]);
        } else if (arg + 1 < argc && strcmp(argv[arg], "--watch") == 0) {
            watched = argv[arg + 1];
        } else {
            fprintf(stderr, "usage: probe.exe [--limit SECONDS] [--samples FILE] [--cancel-at PERCENT [--watch PATH]]\n");
            return EXIT_USAGE;
        }
    }

    double deadline = NowMs() + limitSeconds * 1000.0;
    HWND dialog = NULL;
    while (dialog == NULL && NowMs() < deadline) {
        EnumWindows(FindCopyDialog, (LPARAM)&dialog);
        if (dialog == NULL)
            Sleep(FIND_POLL_MS);
    }
    if (dialog == NULL) {
        printf("{\"program\":\"probe\",\"error\":\"no copy dialog\"}\n");
        return EXIT_FAILED;
    }

    if (cancelAt >= 0)
        return MeasureCancel(dialog, cancelAt, watched, deadline);

    std::vector<double> trips;
    double started = NowMs();
    bool hung = false;
    while (NowMs() < deadline) {
        DWORD_PTR result = 0;
        double before = NowMs();
        LRESULT sent = SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, SEND_TIMEOUT_MS, &result);
        double trip = NowMs() - before;
        if (!sent) {
            // A window that is gone ends the probe; a timeout on a live one is a hang.
            hung = IsWindow(dialog) && GetLastError() == ERROR_TIMEOUT;
            break;
        }
        trips.push_back(trip);
    }
    double probed = NowMs() - started;

    if (samplesPath != NULL) {
        FILE *file = fopen(samplesPath, "w");
        if (file != NULL) {
            for (double trip : trips)
                fprintf(file, "%.4f\n", trip);
            fclose(file);
        }
    }
    if (trips.empty()) {
        printf("{\"program\":\"probe\",\"error\":\"the dialog went before the first round trip\"}\n");
        return EXIT_FAILED;
    }
    std::vector<double> sorted = trips;
    std::sort(sorted.begin(), sorted.end());
    printf("{\"program\":\"probe\",\"round_trips\":%u,\"probed_ms\":%.1f,\"median_ms\":%.3f,\"p99_ms\":%.3f,"
           "\"p999_ms\":%.3f,\"max_ms\":%.3f,\"hung\":%s}\n",
           (unsigned)sorted.size(), probed, Percentile(sorted, 0.5), Percentile(sorted, 0.99),
           Percentile(sorted, 0.999), sorted.back(), hung ? "true" : "false");
    return hung ? EXIT_FAILED : EXIT_OK;
}
