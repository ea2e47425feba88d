// The performance clock and the file lists shared by chain.exe, copyfile.exe and probe.exe.
#include "PerfCommon.h"

#include <stdio.h>

static const char LIST_SEPARATOR = '|';

bool ReadFileList(const char *path, std::vector<FilePair> *pairs)
{
    FILE *file = fopen(path, "rb");
    if (file == NULL) {
        fprintf(stderr, "cannot read %s\n", path);
        return false;
    }
    std::string line;
    int number = 0;
    bool ok = true;
    for (int c = fgetc(file);; c = fgetc(file)) {
        if (c != EOF && c != '\n') {
            if (c != '\r')
                line += (char)c;
            continue;
        }
        number++;
        if (!line.empty()) {
            size_t bar = line.find(LIST_SEPARATOR);
            if (bar == std::string::npos) {
                fprintf(stderr, "%s:%d: no '|' between source and destination\n", path, number);
                ok = false;
                break;
            }
            pairs->push_back(FilePair{ line.substr(0, bar), line.substr(bar + 1) });
        }
        line.clear();
        if (c == EOF)
            break;
    }
    fclose(file);
    return ok;
}

double NowMs()
{
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)now.QuadPart * 1000.0 / (double)frequency.QuadPart;
}
