// Shared pieces of the Wine-side measuring programs: the performance clock and the list of files.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct FilePair {
    std::string Source;
    std::string Destination;
};

// Reads LIST: one "SOURCE|DESTINATION" line per file (Windows paths, CR LF or LF). Returns false with
// a message on stderr when the file cannot be read or a line has no '|'.
bool ReadFileList(const char *path, std::vector<FilePair> *pairs);

// Milliseconds on the performance counter since an arbitrary origin.
double NowMs();
