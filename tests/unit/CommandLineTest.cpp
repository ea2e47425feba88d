// The switches deployment tools pass: what each sets, quoting, /D= to the end of the line, and
// every word that must be refused rather than half understood.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/CommandLine.h"
#include "core/InstallState.h"
#include "core/RunFrame.h"
#include "uninstall/Uninstaller.h"

namespace {

struct Parsed {
    int result;
    int silent, allUsers, answer;
    std::string directory, log;
};

// The switches as the installer reads them, or with `uninstaller` as the uninstaller does.
Parsed Read(const std::string &commandLine, bool uninstaller = false)
{
    memset(&State, 0, sizeof State);
    memset(&Uninstaller, 0, sizeof Uninstaller);
    memset(&Run, 0, sizeof Run);
    Parsed parsed;
    parsed.result = uninstaller ? ReadUninstallSwitches(commandLine.c_str()) : ReadSwitches(commandLine.c_str());
    parsed.silent = Run.Silent;
    parsed.allUsers = State.AllUsers;
    parsed.answer = Run.SilentQuestionAnswer;
    parsed.directory = uninstaller ? Uninstaller.RequestedDirectory : State.RequestedDirectory;
    parsed.log = Run.LogPath;
    return parsed;
}

TEST(ReadSwitches, EachSwitchInAnyOrderAndCase)
{
    struct Row {
        const char *line;
        int result, silent, allUsers, answer;
        const char *directory, *log;
    } rows[] = {
        { "", SWITCHES_RUN, 0, 0, IDYES, "", "" },
        { "  \t ", SWITCHES_RUN, 0, 0, IDYES, "", "" },
        { "/s", SWITCHES_RUN, 1, 1, IDYES, "", "" },
        { "/NoAssociate /S", SWITCHES_RUN, 1, 1, IDNO, "", "" },
        { "/ALLUSERS", SWITCHES_RUN, 0, 1, IDYES, "", "" },
        { "/?", SWITCHES_HELP, 0, 0, IDYES, "", "" },
        { "/S /LOG=C:\\setup.log", SWITCHES_RUN, 1, 1, IDYES, "", "C:\\setup.log" },
        { "/log=\"C:\\my logs\\q.log\" /S", SWITCHES_RUN, 1, 1, IDYES, "", "C:\\my logs\\q.log" },
        // /D= takes the rest of the line, blanks and what looks like switches included.
        { "/S /D=C:\\Program Files\\My Editor /ALLUSERS ", SWITCHES_RUN, 1, 1, IDYES,
          "C:\\Program Files\\My Editor /ALLUSERS", "" },
        { "/d=\"D:\\Apps\\Quillet\"", SWITCHES_RUN, 0, 0, IDYES, "D:\\Apps\\Quillet", "" },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.line);
        Parsed parsed = Read(row.line);
        EXPECT_EQ(parsed.result, row.result);
        EXPECT_EQ(parsed.silent, row.silent);
        EXPECT_EQ(parsed.allUsers, row.allUsers);
        EXPECT_EQ(parsed.answer, row.answer);
        EXPECT_EQ(parsed.directory, row.directory);
        EXPECT_EQ(parsed.log, row.log);
    }
}

TEST(ReadSwitches, RefusesWhatItDoesNotKnowOrCannotHoldWhole)
{
    const std::string longest(VALUE_CAPACITY - 1, 'd');
    const std::string longestLog(PATH_CAPACITY - 1, 'l');
    EXPECT_EQ(Read("/D=C:\\" + longest.substr(3)).result, SWITCHES_RUN);
    EXPECT_EQ(Read("/LOG=" + longestLog).result, SWITCHES_RUN);
    for (const std::string &line :
         { std::string("/X"), std::string("S"), std::string("/S x"), std::string("/"), std::string("/SILENT"),
           std::string("/S=1"), std::string("/LOG="), std::string("/LOG"), std::string("/LOG=\"a b"),
           std::string("/LOG=\"a\"b"), std::string("/D="), std::string("/D=\"\""), std::string("/D=C:\\" + longest),
           std::string("/LOG=" + longestLog + "l"), std::string("/? /X") }) {
        SCOPED_TRACE(line);
        EXPECT_EQ(Read(line).result, SWITCHES_BAD);
    }
    // A bad word does not hide a /S after it: the refusal must stay silent too.
    Parsed parsed = Read("/X /S");
    EXPECT_EQ(parsed.result, SWITCHES_BAD);
    EXPECT_EQ(parsed.silent, 1);
}

// The uninstall entry's command: the switches first, then the directory after a '/', unquoted and
// blanks and all, to the end of the line.
TEST(ReadUninstallSwitches, TheDirectoryLastAndWhole)
{
    struct Row {
        const char *line;
        int result, silent;
        const char *directory, *log;
    } rows[] = {
        { "/C:\\Program Files\\Quillet", SWITCHES_RUN, 0, "C:\\Program Files\\Quillet", "" },
        { "/S /LOG=\"C:\\my logs\\r.log\" /C:\\Program Files\\Quillet", SWITCHES_RUN, 1,
          "C:\\Program Files\\Quillet", "C:\\my logs\\r.log" },
        { "/\\\\server\\apps\\Quillet", SWITCHES_RUN, 0, "\\\\server\\apps\\Quillet", "" },
        // Blanks at the line's end are the command line's; what looks like a switch is the directory's.
        { "/s /D:\\Quillet /LOG=x \t ", SWITCHES_RUN, 1, "D:\\Quillet /LOG=x", "" },
        // Quoted as callers quote an argument with blanks: the word, or the directory after its '/'.
        { "\"/C:\\Program Files\\Quillet\"", SWITCHES_RUN, 0, "C:\\Program Files\\Quillet", "" },
        { "/S \"/C:\\Program Files\\Quillet\"  ", SWITCHES_RUN, 1, "C:\\Program Files\\Quillet", "" },
        { "/\"C:\\Program Files\\Quillet\"", SWITCHES_RUN, 0, "C:\\Program Files\\Quillet", "" },
        { "\"/C:\\Program Files\\Quillet", SWITCHES_BAD, 0, "", "" },
        { "\"/S\"", SWITCHES_BAD, 0, "", "" },
        { "/?", SWITCHES_HELP, 0, "", "" },
        // The installer's own switches are none of the uninstaller's.
        { "/NOASSOCIATE /C:\\Quillet", SWITCHES_BAD, 0, "", "" },
        { "/D=C:\\Quillet", SWITCHES_BAD, 0, "", "" },
        { "/S /LOG=\"C:\\logs /C:\\Quillet", SWITCHES_BAD, 1, "", "" },
        { "/C:\\Program \"Files", SWITCHES_BAD, 0, "", "" },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.line);
        Parsed parsed = Read(row.line, true);
        EXPECT_EQ(parsed.result, row.result);
        EXPECT_EQ(parsed.silent, row.silent);
        EXPECT_EQ(parsed.answer, IDYES);
        EXPECT_EQ(parsed.directory, row.directory);
        EXPECT_EQ(parsed.log, row.log);
    }
}

}  // namespace
