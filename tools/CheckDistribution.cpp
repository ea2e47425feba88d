// check-distribution [--script FILE] [--language en|fr|it] [--json] [--silent] [--no-associate]
// [--all-users] [--dir DIR] FOLDER|SETUP.EXE: the dry run of a distribution folder or of a packed
// setup.exe, printed; exit 0 clean, 1 with warnings, 2 when it would install nothing.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tools/DryRun.h"

static const char USAGE[] =
    "usage: check-distribution [--script FILE] [--language en|fr|it] [--json]\n"
    "                          [--silent] [--no-associate] [--all-users] [--dir DIR] FOLDER|SETUP.EXE\n"
    "  FOLDER: a distribution folder; SETUP.EXE: a packed setup.exe (scripts/pack.sh), which carries its script\n"
    "  --silent, --no-associate, --all-users, --dir DIR: as setup.exe /S, /NOASSOCIATE, /ALLUSERS, /D=DIR\n";

int main(int argc, char **argv)
{
    DryRunOptions options;
    bool json = false;
    for (int i = 1; i < argc; i++) {
        std::string argument = argv[i];
        if (argument == "--json") {
            json = true;
        } else if (argument == "--silent") {
            options.Silent = true;
        } else if (argument == "--no-associate") {
            options.NoAssociate = true;
        } else if (argument == "--all-users") {
            options.AllUsers = true;
        } else if (argument == "--dir" && i + 1 < argc && argv[i + 1][0] != '\0') {
            options.Directory = argv[++i];
        } else if ((argument == "--script" || argument == "--language") && i + 1 < argc) {
            (argument == "--script" ? options.ScriptFile : options.Language) = argv[++i];
        } else if (argument.compare(0, 1, "-") != 0 && options.Folder.empty()) {
            options.Folder = argument;
        } else {
            fputs(USAGE, stderr);
            return DRY_RUN_FAILS;
        }
    }
    struct stat info;
    bool found = !options.Folder.empty() && stat(options.Folder.c_str(), &info) == 0 &&
                 (S_ISDIR(info.st_mode) || S_ISREG(info.st_mode));
    bool packed = found && S_ISREG(info.st_mode);
    if (!found || (packed && !options.ScriptFile.empty()) ||
        (options.Language != "en" && options.Language != "fr" && options.Language != "it")) {
        fputs(USAGE, stderr);
        if (!options.Folder.empty() && !found)
            fprintf(stderr, "check-distribution: %s is neither a folder nor a file\n", options.Folder.c_str());
        else if (packed && !options.ScriptFile.empty())
            fprintf(stderr, "check-distribution: %s carries its own script: --script does not apply\n",
                    options.Folder.c_str());
        return DRY_RUN_FAILS;
    }

    const char *temporary = getenv("TMPDIR");
    std::string sandbox = std::string(temporary != NULL && *temporary ? temporary : "/tmp") +
                          "/check-distribution-XXXXXX";
    if (mkdtemp(&sandbox[0]) == NULL) {
        perror("check-distribution: cannot make a sandbox folder");
        return DRY_RUN_FAILS;
    }
    DryRunResult result = RunDryRun(options, sandbox);
    rmdir(sandbox.c_str());
    fputs((json ? FormatJson(result) : FormatText(result)).c_str(), stdout);
    return result.ExitCode;
}
