// copyfile.exe LIST: copies every pair of LIST with CopyFileA (overwriting) and prints the time.
// The reference the installer's copy is held against: the system's own copy, with no message per chunk.
#include <stdio.h>

#include "PerfCommon.h"

enum { EXIT_OK = 0, EXIT_FAILED = 1, EXIT_USAGE = 2 };

int main(int argc, char **argv)
{
    std::vector<FilePair> pairs;
    if (argc != 2) {
        fprintf(stderr, "usage: copyfile.exe LIST\n");
        return EXIT_USAGE;
    }
    if (!ReadFileList(argv[1], &pairs))
        return EXIT_USAGE;
    double start = NowMs();
    for (const FilePair &pair : pairs) {
        if (!CopyFileA(pair.Source.c_str(), pair.Destination.c_str(), FALSE)) {
            fprintf(stderr, "copyfile: %s -> %s failed with error %lu\n", pair.Source.c_str(),
                    pair.Destination.c_str(), GetLastError());
            return EXIT_FAILED;
        }
    }
    double elapsed = NowMs() - start;
    printf("{\"program\":\"copyfile\",\"files\":%u,\"ms\":%.3f}\n", (unsigned)pairs.size(), elapsed);
    return EXIT_OK;
}
