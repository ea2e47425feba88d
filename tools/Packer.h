// The packer: a distribution folder's setup.exe with the payload it reads itself from (the script,
// the backdrop, every source of [Files]), and the check that reads such a file back.
#pragma once

#include <string>
#include <vector>

enum {
    PACK_DONE = 0,
    PACK_REFUSED = 1,  // something in the folder or the file: each reason is a line of Refusals
    PACK_USAGE = 2,
};

struct PackOutcome {
    int ExitCode = PACK_REFUSED;
    std::vector<std::string> Lines;     // one an entry, then the totals
    std::vector<std::string> Refusals;  // each names the file and the reason
};

// Writes `out` (a host path; made or replaced): the folder's setup.exe, then the payload of the
// script setup.inf, the bitmap its [Install] section names and every source its [Files] section
// names, in that order, each once, each deflated or stored when deflate does not make it smaller.
// Names are found in the folder without regard to case, as Windows finds them. Memory stays within
// a few buffers whatever the files' sizes. On a refusal `out` may hold part of the file: write it
// beside its place and move it in once the outcome is PACK_DONE.
PackOutcome PackDistribution(const std::string &folder, const std::string &out);

// Reads the file at the Windows path `path` (of the stand-in) through the installer's own payload
// reader: its directory, then every entry whole. PACK_DONE with a line an entry, or PACK_REFUSED
// with the reason.
PackOutcome CheckPackedFile(const char *path);
