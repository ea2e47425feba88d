// The log a deployment tool asks for with /LOG=FILE. Its own words are English, as deployment logs
// are; the messages in it are the texts the user saw (or, in a silent run, would have seen), in the
// user's language. Each line is written at once, so that a run that is killed leaves its log up to
// the moment it died.
#include "core/InstallLog.h"

#include <stdarg.h>

#include "core/RunFrame.h"
#include "version.h"

enum {
    // wvsprintfA never writes more than 1024 characters.
    LOG_TEXT_CAPACITY = 1024,
    LOG_TIME_CAPACITY = 16,
    LOG_LINE_CAPACITY = LOG_TIME_CAPACITY + LOG_TEXT_CAPACITY + 2,
};

// To the millisecond, so that the log also tells how long each part of a run took.
static const char TIME_FORMAT[] = "%02u:%02u:%02u.%03u ";
static const char LINE_END[] = "\r\n";

static void (*LogFailed)(void);

static void WriteLogText(const char *text, int length)
{
    DWORD written = 0;
    if (WriteFile(Run.LogHandle, text, (DWORD)length, &written, NULL) && written == (DWORD)length)
        return;
    CloseHandle(Run.LogHandle);
    Run.LogHandle = NULL;
    LogFailed();
}

void LogLine(const char *format, ...)
{
    if (Run.LogHandle == NULL)
        return;
    char line[LOG_LINE_CAPACITY];
    SYSTEMTIME now;
    GetLocalTime(&now);
    int length = wsprintfA(line, TIME_FORMAT, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    va_list arguments;
    va_start(arguments, format);
    length += wvsprintfA(line + length, format, arguments);
    va_end(arguments);
    line[length++] = LINE_END[0];
    line[length++] = LINE_END[1];
    WriteLogText(line, length);
}

DWORD OpenInstallLog(const char *program, const char *commandLine, void (*logFailed)(void))
{
    LogFailed = logFailed;
    if (Run.LogPath[0] == '\0')
        return 0;
    // Others may read the log while the run writes it.
    Run.LogHandle = CreateFileA(Run.LogPath, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
    if (Run.LogHandle == INVALID_HANDLE_VALUE) {
        Run.LogHandle = NULL;
        return GetLastError();
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    LogLine("%s " QUILLET_VERSION_TEXT ", started %04u-%02u-%02u", program, now.wYear, now.wMonth, now.wDay);
    LogLine("Command line: %s", commandLine);
    return 0;
}

void CloseInstallLog(int exitCode)
{
    LogLine("Exit code: %d", exitCode);
    if (Run.LogHandle != NULL)
        CloseHandle(Run.LogHandle);
    Run.LogHandle = NULL;
}
