// The install script reader. The script is 8-bit text that ends at its first NUL; lines end at LF,
// a CR right before that LF belongs to the line end, and any other CR is content.
#include "script/ScriptReader.h"

#include "resources/resource.h"
#include "script/TextHelpers.h"
#include "ui/Messages.h"

static const char FILE_READ_CONTEXT[] = "FileRead";

// Content length and line-end length (0, 1 or 2) of the line at `line`.
static void MeasureLine(const char *line, int *contentLength, int *endLength)
{
    int n = 0;
    while (line[n] != '\0' && line[n] != '\n')
        n++;
    if (line[n] != '\n') {
        *contentLength = n;
        *endLength = 0;
    } else if (n > 0 && line[n - 1] == '\r') {
        *contentLength = n - 1;
        *endLength = 2;
    } else {
        *contentLength = n;
        *endLength = 1;
    }
}

int LoadScriptFile(HINSTANCE instance, const char *caption, HWND owner, const char *path,
                   HGLOBAL *handle, char **text)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        ShowMessageFormatted(instance, caption, owner, IDS_CANNOT_OPEN_S, path, MB_ICONERROR);
        return -1;
    }

    int size = MeasureFileSize(file);
    // A failed seek, or a file beyond 2 GiB, gives no usable size: never allocate or read by it.
    if (size < 0) {
        ShowMessageFormatted(instance, caption, owner, IDS_CANNOT_READ_S, path, MB_ICONERROR);
        CloseHandle(file);
        return -1;
    }

    *handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, (SIZE_T)size + 1);
    if (*handle == NULL) {
        ShowMessageFormatted(instance, caption, owner, IDS_NO_MEMORY_S, FILE_READ_CONTEXT, MB_ICONERROR);
        CloseHandle(file);
        return -1;
    }
    *text = (char *)GlobalLock(*handle);
    if (*text == NULL) {
        GlobalFree(*handle);
        *handle = NULL;
        ShowMessageFormatted(instance, caption, owner, IDS_NO_LOCK_S, FILE_READ_CONTEXT, MB_ICONERROR);
        CloseHandle(file);
        return -1;
    }

    DWORD read = 0;
    BOOL ok = ReadFile(file, *text, (DWORD)size, &read, NULL);
    CloseHandle(file);
    if (!ok || read != (DWORD)size) {
        ShowMessageFormatted(instance, caption, owner, IDS_CANNOT_READ_S, path, MB_ICONERROR);
        // The caller stops at once; give the block back rather than leave it to the exit.
        GlobalUnlock(*handle);
        GlobalFree(*handle);
        *handle = NULL;
        *text = NULL;
        return -1;
    }
    return 0;
}

int FindScriptSection(HINSTANCE instance, const char *caption, HWND owner, const char *name,
                      int report, const char *text, int *cursor)
{
    int nameLength = 0;
    while (name[nameLength] != '\0')
        nameLength++;

    int at = 0;
    while (text[at] != '\0') {
        int content, end;
        MeasureLine(text + at, &content, &end);
        if (content > 0 && text[at] == '[') {
            // Compared over the name's length; a shorter line differs at its end and stops there.
            int i = 0;
            while (i < nameLength && text[at + 1 + i] == name[i])
                i++;
            if (i == nameLength) {
                *cursor = at + content + end;
                return 0;
            }
        }
        at += content + end;
    }

    *cursor = at;
    if (report)
        ShowMessageFormatted(instance, caption, owner, IDS_NO_SECTION_S, name, MB_ICONINFORMATION);
    return -1;
}

int ParseScriptLine(const char *line, ScriptLine *result)
{
    if (line[0] == '\0' || line[0] == '[')
        return 0;

    result->KeyLength = 0;
    result->ValueStart = NULL;
    result->ValueLength = 0;

    int content, end;
    MeasureLine(line, &content, &end);
    if (content == 0 || line[0] == ';')
        return content + end;

    int equals = 0;
    while (equals < content && line[equals] != '=')
        equals++;
    if (equals == content) {
        result->KeyLength = content;
        return content + end;
    }

    int keyEnd = equals;
    while (keyEnd > 0 && (line[keyEnd - 1] == ' ' || line[keyEnd - 1] == '\t'))
        keyEnd--;
    result->KeyLength = keyEnd;

    int valueAt = keyEnd;
    while (valueAt < content && (line[valueAt] == ' ' || line[valueAt] == '\t' || line[valueAt] == '='))
        valueAt++;
    result->ValueStart = line + valueAt;
    result->ValueLength = content - valueAt;
    return content + end;
}

int KeyMatches(const char *text, const char *name, int count)
{
    for (int i = 0; i < count; i++) {
        signed char a = (signed char)text[i];
        signed char b = (signed char)name[i];
        if (a < b)
            return -1;
        if (a > b)
            return 1;
    }
    return 0;
}
