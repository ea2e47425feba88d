// Any file as the install script, read by the script reader alone: loaded, every section looked
// up, every section's lines split and matched against every key name. Every line, key and value the
// reader reports must lie inside the text; each key and value is copied into a buffer of the
// product's own capacity, so a bounded helper that reaches one byte too far is caught. The product's
// own walks over the sections run whole in FuzzInstallation.
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "SimControl.h"
#include "core/InstallState.h"
#include "resources/resource.h"
#include "script/ScriptReader.h"
#include "script/TextHelpers.h"

namespace {

bool prepared;
std::string sandbox;
char scriptPath[PATH_CAPACITY];
const char *text;
int textLength;

void Require(bool condition, const char *what)
{
    if (!condition) {
        fprintf(stderr, "FuzzScriptReader: %s\n", what);
        abort();
    }
}

// Parses the line at `cursor` and checks that what it reports lies within the line.
int ParseChecked(int cursor, ScriptLine *line)
{
    const char *at = text + cursor;
    int length = ParseScriptLine(at, line);
    if (length == 0)
        return 0;
    Require(length > 0 && length <= textLength - cursor, "a line that runs past the text");
    Require(line->KeyLength >= 0 && line->KeyLength <= length, "a key longer than its line");
    Require(line->ValueLength >= 0, "a negative value length");
    if (line->ValueStart != NULL) {
        Require(line->ValueStart >= at + line->KeyLength && line->ValueStart + line->ValueLength <= at + length,
                "a value outside its line");
    } else {
        Require(line->ValueLength == 0, "a value length without a value");
    }
    return length;
}

// Sets *cursor to the section's first line; false when the section is missing.
bool FindChecked(const char *name, int *cursor)
{
    *cursor = -1;
    int found = FindScriptSection(State.Instance, State.ClassName, NULL, name, FALSE, text, cursor);
    Require(*cursor >= 0 && *cursor <= textLength, "a section cursor outside the text");
    Require(found == 0 || *cursor == textLength, "a missing section that leaves the cursor inside the text");
    return found == 0;
}

// Every line of the section at `cursor`, its key and value copied out and matched against every
// key name, as the installer's walks use them.
void WalkSection(int cursor)
{
    const char *keys[] = { State.BitmapKey, State.ApplicationKey, State.CaptionKey, State.DirectoryKey, State.SuffixesKey };
    ScriptLine line;
    for (;;) {
        int length = ParseChecked(cursor, &line);
        if (length == 0)
            break;
        char key[VALUE_CAPACITY];
        char value[VALUE_CAPACITY];
        CopyChars(key, VALUE_CAPACITY, text + cursor, line.KeyLength);
        CopyChars(value, VALUE_CAPACITY, line.ValueStart, line.ValueLength);
        for (const char *name : keys)
            KeyMatches(text + cursor, name, (int)strlen(name));
        cursor += length;
    }
}

void RemoveSandbox()
{
    sim::Reset(sandbox);
    for (const char *folder : { "/C/WINDOWS", "/C/DIST", "/C", "" })
        rmdir((sandbox + folder).c_str());
}

// The strings start-up loads, and the installer's own path, as start-up forms them.
void Prepare()
{
    if (prepared)
        return;
    prepared = true;
    const char *temp = getenv("TMPDIR");
    sandbox = std::string(temp != nullptr ? temp : "/tmp") + "/quillet-fuzz-script-" + std::to_string(getpid());
    sim::Reset(sandbox);
    atexit(RemoveSandbox);

    State.Instance = sim::Instance();
    const struct {
        UINT Id;
        char *Field;
    } strings[] = {
        { IDS_CLASS_NAME, State.ClassName },           { IDS_FILES_SECTION, State.FilesSection },
        { IDS_GROUP_SECTION, State.GroupSection },     { IDS_INSTALL_SECTION, State.InstallSection },
        { IDS_REGISTRATION_SECTION, State.RegistrationSection }, { IDS_APPLICATION_KEY, State.ApplicationKey },
        { IDS_BITMAP_KEY, State.BitmapKey },           { IDS_CAPTION_KEY, State.CaptionKey },
        { IDS_DIRECTORY_KEY, State.DirectoryKey },     { IDS_SUFFIXES_KEY, State.SuffixesKey },
    };
    for (const auto &string : strings)
        LoadStringA(State.Instance, string.Id, string.Field, NAME_CAPACITY);

    GetModuleFileNameA(NULL, State.SourcePath, PATH_CAPACITY);
    SplitPath(State.SourcePath, &State.DriveLength, &State.FileNameOffset, &State.DotOffset);
    CopyString(scriptPath, PATH_CAPACITY, State.SourcePath);
    AppendString(scriptPath, PATH_CAPACITY, State.DotOffset, ".inf");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Prepare();
    sim::PutFile(scriptPath, std::string((const char *)data, size));

    HGLOBAL handle = NULL;
    char *script = NULL;
    Require(LoadScriptFile(State.Instance, State.ClassName, NULL, scriptPath, &handle, &script) == 0,
            "a script that exists did not load");
    Require(script[size] == '\0', "the script is not followed by a NUL");
    text = script;
    textLength = (int)strlen(script);

    int cursor;
    const char *names[] = { State.InstallSection, State.FilesSection, State.GroupSection, State.RegistrationSection, "" };
    for (const char *name : names) {
        if (FindChecked(name, &cursor))
            WalkSection(cursor);
    }

    GlobalUnlock(handle);
    GlobalFree(handle);
    Require(sim::LiveGlobalBlocks() == 0 && sim::OpenFileHandles() == 0, "the script reader kept a block or a file");
    Require(sim::MessageBoxes().empty(), "the reader showed a message for a script that loads");
    return 0;
}
