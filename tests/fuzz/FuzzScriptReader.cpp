// Any file as the install script, walked the way the installer walks it: [Install] into its
// fields, [Files] split into label, destination and source, [Group] into its four fields, and
// [Registration] into its suffixes. Every field is a buffer of the product's own capacity, so a
// bounded helper that writes or reads one byte too far is caught; every line the reader reports
// must lie inside the text.
#include <windows.h>

#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "SimControl.h"
#include "core/CopyEngine.h"
#include "core/InstallState.h"
#include "resources/resource.h"
#include "script/ScriptReader.h"
#include "script/TextHelpers.h"

namespace {

const char PROGRAMS_FOLDER[] = "C:\\Users\\me\\Start Menu\\Programs";
const char PATH_SEPARATOR[] = "\\";

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

// The [Install] values, as start-up keeps them.
struct InstallValues {
    char BitmapName[VALUE_CAPACITY];
    char ApplicationName[VALUE_CAPACITY];
    char CaptionText[VALUE_CAPACITY];
    char TargetDirectory[VALUE_CAPACITY];
};

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

// [Install]: every line against every key by its first bytes; the last one wins.
void ReadInstall(InstallValues *values)
{
    memset(values, 0, sizeof *values);
    int cursor;
    if (!FindChecked(State.InstallSection, &cursor))
        return;
    const struct {
        const char *Key;
        char *Field;
    } keys[] = {
        { State.BitmapKey, values->BitmapName },
        { State.ApplicationKey, values->ApplicationName },
        { State.CaptionKey, values->CaptionText },
        { State.DirectoryKey, values->TargetDirectory },
    };
    ScriptLine line;
    for (;;) {
        int length = ParseChecked(cursor, &line);
        if (length == 0)
            break;
        for (const auto &key : keys) {
            if (KeyMatches(text + cursor, key.Key, (int)strlen(key.Key)) == 0)
                CopyChars(key.Field, VALUE_CAPACITY, line.ValueStart, line.ValueLength);
        }
        cursor += length;
    }
}

// [Files]: label, an optional '%', destination and source split at the last ';', and the paths
// the copy engine forms from them.
void WalkFiles(const InstallValues &values)
{
    int cursor;
    if (!FindChecked(State.FilesSection, &cursor))
        return;
    ScriptLine line;
    for (;;) {
        int length = ParseChecked(cursor, &line);
        if (length == 0)
            break;
        if (line.KeyLength != 0 || line.ValueLength != 0) {
            const char *value = line.ValueStart;
            int count = line.ValueLength;
            if (count > 0 && value[0] == '%') {
                value++;
                count--;
            }
            char entryKey[VALUE_CAPACITY];
            char entryValue[VALUE_CAPACITY];
            CopyChars(entryKey, VALUE_CAPACITY, text + cursor, line.KeyLength);
            CopyChars(entryValue, VALUE_CAPACITY, value, count);
            const char *source = SplitEntryValue(entryValue);
            Require(source >= entryValue && source < entryValue + VALUE_CAPACITY, "a source outside the entry");
            FormSourcePath(source);
            char destination[PATH_CAPACITY];
            int at = CopyString(destination, PATH_CAPACITY, values.TargetDirectory);
            at = AppendString(destination, PATH_CAPACITY, at, PATH_SEPARATOR);
            AppendString(destination, PATH_CAPACITY, at, entryValue);
        }
        cursor += length;
    }
}

// The shortcuts' icon index: white space, an optional sign, digits; stops at the ends of an int.
int ParseIconIndex(const char *field)
{
    while (*field == ' ' || *field == '\t' || *field == '\r' || *field == '\v' || *field == '\f')
        field++;
    int negative = 0;
    if (*field == '+' || *field == '-')
        negative = *field++ == '-';
    int value = 0;
    for (; *field >= '0' && *field <= '9'; field++) {
        int digit = *field - '0';
        value = value < (INT_MIN + digit) / 10 ? INT_MIN : value * 10 - digit;
    }
    return negative ? value : value == INT_MIN ? INT_MAX : -value;
}

// [Group]: name=target,description,icon file,icon index, up to the first empty entry.
void WalkGroup(const InstallValues &values)
{
    int cursor;
    if (!FindChecked(State.GroupSection, &cursor))
        return;
    char groupFolder[VALUE_CAPACITY];
    int at = CopyString(groupFolder, VALUE_CAPACITY, PROGRAMS_FOLDER);
    at = AppendString(groupFolder, VALUE_CAPACITY, at, PATH_SEPARATOR);
    AppendString(groupFolder, VALUE_CAPACITY, at, values.ApplicationName);
    ScriptLine line;
    for (;;) {
        int length = ParseChecked(cursor, &line);
        if (length == 0 || (line.KeyLength == 0 && line.ValueLength == 0))
            break;
        char entryKey[VALUE_CAPACITY];
        char entryValue[VALUE_CAPACITY];
        CopyChars(entryKey, VALUE_CAPACITY, text + cursor, line.KeyLength);
        CopyChars(entryValue, VALUE_CAPACITY, line.ValueStart, line.ValueLength);
        const char *field = entryValue;

        char target[PATH_CAPACITY], linkFile[PATH_CAPACITY], description[PATH_CAPACITY], iconFile[PATH_CAPACITY];
        int targetAt = CopyString(target, PATH_CAPACITY, values.TargetDirectory);
        targetAt = AppendString(target, PATH_CAPACITY, targetAt, PATH_SEPARATOR);
        NextField(&field, target + targetAt, PATH_CAPACITY - targetAt, ',');
        int link = CopyString(linkFile, PATH_CAPACITY, groupFolder);
        link = AppendString(linkFile, PATH_CAPACITY, link, PATH_SEPARATOR);
        AppendString(linkFile, PATH_CAPACITY, link, entryKey);
        NextField(&field, description, PATH_CAPACITY, ',');
        int icon = 0;
        if (*field == '%') {
            icon = CopyString(iconFile, PATH_CAPACITY, values.TargetDirectory);
            icon = AppendString(iconFile, PATH_CAPACITY, icon, PATH_SEPARATOR);
            field++;
        }
        NextField(&field, iconFile + icon, PATH_CAPACITY - icon, ',');
        Require(field >= entryValue && field <= entryValue + strlen(entryValue), "a field cursor outside the entry");
        ParseIconIndex(field);
        cursor += length;
    }
}

// [Registration]: the last Suffixes line, split at blanks and tabs.
void ReadSuffixes()
{
    int cursor;
    if (!FindChecked(State.RegistrationSection, &cursor))
        return;
    char suffixList[VALUE_CAPACITY] = "";
    int keyLength = (int)strlen(State.SuffixesKey);
    ScriptLine line;
    for (;;) {
        int length = ParseChecked(cursor, &line);
        if (length == 0)
            break;
        if (KeyMatches(text + cursor, State.SuffixesKey, keyLength) == 0)
            CopyChars(suffixList, VALUE_CAPACITY, line.ValueStart, line.ValueLength);
        cursor += length;
    }
    char suffixKey[VALUE_CAPACITY + 1];
    for (const char *at = suffixList;;) {
        while (*at == ' ' || *at == '\t')
            at++;
        if (*at == '\0')
            break;
        int suffixLength = 0;
        while (at[suffixLength] != '\0' && at[suffixLength] != ' ' && at[suffixLength] != '\t')
            suffixLength++;
        int length = CopyString(suffixKey, sizeof suffixKey, ".");
        AppendChars(suffixKey, sizeof suffixKey, length, at, suffixLength);
        at += suffixLength;
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
    for (const char *name : names)
        FindChecked(name, &cursor);
    InstallValues values;
    ReadInstall(&values);
    WalkFiles(values);
    WalkGroup(values);
    ReadSuffixes();

    GlobalUnlock(handle);
    GlobalFree(handle);
    Require(sim::LiveGlobalBlocks() == 0 && sim::OpenFileHandles() == 0, "the script reader kept a block or a file");
    Require(sim::MessageBoxes().empty(), "the reader showed a message for a script that loads");
    return 0;
}
