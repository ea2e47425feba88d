// probe.exe [--limit SECONDS] [--samples FILE]: the copy dialog's responsiveness, measured from outside.
// Waits for a visible dialog with a control 261 (the copy dialog's Cancel button), then sends it WM_NULL
// again and again with SendMessageTimeout and times each round trip with the performance counter, until
// the dialog is gone. The installer's single thread answers a sent message only between two steps of its
// chain, so a round trip is at most the longest step plus the delivery. Prints count, median,
// 99th percentile and maximum as one JSON line; --samples writes every round trip (ms, one a line).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "PerfCommon.h"

enum {
    COPY_CANCEL_ID = 261,
    FIND_POLL_MS = 1,
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

static double Percentile(const std::vector<double> &sorted, double fraction)
{
    size_t at = (size_t)(fraction * (double)(sorted.size() - 1) + 0.5);
    return sorted[std::min(at, sorted.size() - 1)];
}

int main(int argc, char **argv)
{
    int limitSeconds = DEFAULT_LIMIT_SECONDS;
    const char *samplesPath = NULL;
    for (int arg = 1; arg < argc; arg += 2) {
        if (arg + 1 < argc && strcmp(argv[arg], "--limit") == 0) {
            limitSeconds = atoi(argv[arg + 1]);
        } else if (arg + 1 < argc && strcmp(argv[arg], "--samples") == 0) {
            samplesPath = argv[arg + 1];
        } else {
            fprintf(stderr, "usage: probe.exe [--limit SECONDS] [--samples FILE]\n");
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
