// The installer's switches: the table the run frame reads them with, and what they mean together.
#include "core/CommandLine.h"

#include <windows.h>

#include "core/InstallState.h"
#include "core/RunFrame.h"

int ReadSwitches(const char *commandLine)
{
    int noAssociate = FALSE, allUsers = FALSE;
    const SwitchEntry switches[] = {
        { "S", SWITCH_FLAG, &Run.Silent, NULL, 0 },
        { "NOASSOCIATE", SWITCH_FLAG, &noAssociate, NULL, 0 },
        { "ALLUSERS", SWITCH_FLAG, &allUsers, NULL, 0 },
        { "LOG", SWITCH_VALUE, NULL, Run.LogPath, PATH_CAPACITY },
        // The rest of the line, as other installers take it.
        { "D", SWITCH_REST, NULL, State.RequestedDirectory, VALUE_CAPACITY },
    };
    int result = ReadSwitchTable(commandLine, switches, (int)(sizeof switches / sizeof switches[0]));
    Run.SilentQuestionAnswer = noAssociate ? IDNO : IDYES;
    // Nobody at the machine means nobody whose own Start menu it would be.
    State.AllUsers = allUsers || Run.Silent;
    return result;
}
