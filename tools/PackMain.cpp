// pack --out FILE FOLDER: the folder's setup.exe carrying its script and files, read back through
// the installer's own reader before it takes FILE's place; pack --check FILE reads a packed (and
// perhaps signed) file back alone. Exit 0 done, 1 refused (each reason on a line), 2 usage.
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "SimControl.h"
#include "tools/Packer.h"

static const char USAGE[] = "usage: pack --out FILE FOLDER\n"
                            "       pack --check FILE\n";
// Where the stand-in shows the file to the installer's reader.
static const char READ_AS[] = "D:\\setup.exe";

static void Print(const PackOutcome &outcome)
{
    for (const std::string &line : outcome.Lines)
        printf("pack: %s\n", line.c_str());
    for (const std::string &line : outcome.Refusals)
        fprintf(stderr, "pack: refused: %s\n", line.c_str());
}

// Reads `file` through the reader on a stand-in of its own, removed again afterwards.
static PackOutcome CheckOnStandIn(const std::string &file)
{
    PackOutcome outcome;
    char resolved[PATH_MAX];
    const char *temporary = getenv("TMPDIR");
    std::string sandbox = std::string(temporary != NULL && *temporary ? temporary : "/tmp") + "/pack-XXXXXX";
    if (realpath(file.c_str(), resolved) == NULL || mkdtemp(&sandbox[0]) == NULL) {
        outcome.Refusals.push_back(file + ": cannot be read back (no such file, or no temporary folder)");
        return outcome;
    }
    sim::Reset(sandbox);
    sim::MapPath(READ_AS, resolved);
    outcome = CheckPackedFile(READ_AS);
    sim::Reset(sandbox);
    for (const char *folder : { "/C/WINDOWS", "/C/DIST", "/C", "" })
        rmdir((sandbox + folder).c_str());
    return outcome;
}

int main(int argc, char **argv)
{
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--check" && argc == 3) {
        PackOutcome outcome = CheckOnStandIn(argv[2]);
        Print(outcome);
        return outcome.ExitCode;
    }
    if (mode != "--out" || argc != 4 || argv[2][0] == '\0') {
        fputs(USAGE, stderr);
        return PACK_USAGE;
    }
    std::string out = argv[2];
    // Written beside its place and moved in once read back whole: a refusal never leaves a FILE.
    std::string partial = out + ".partial";
    PackOutcome outcome = PackDistribution(argv[3], partial);
    if (outcome.ExitCode == PACK_DONE) {
        PackOutcome check = CheckOnStandIn(partial);
        for (const std::string &refusal : check.Refusals)
            outcome.Refusals.push_back("the packed file does not read back: " + refusal);
        if (check.ExitCode != PACK_DONE)
            outcome.ExitCode = PACK_REFUSED;
        else
            outcome.Lines.push_back("read back through the installer's reader: " +
                                    std::to_string(check.Lines.size()) + " entries, each whole with its checksum");
    }
    if (outcome.ExitCode == PACK_DONE && rename(partial.c_str(), out.c_str()) != 0) {
        outcome.Refusals.push_back(out + ": cannot take its place");
        outcome.ExitCode = PACK_REFUSED;
    }
    if (outcome.ExitCode == PACK_DONE)
        outcome.Lines.push_back("written: " + out);
    if (outcome.ExitCode != PACK_DONE)
        unlink(partial.c_str());
    Print(outcome);
    return outcome.ExitCode;
}
