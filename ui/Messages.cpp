// Message boxes built from the string resources. Every question the installer asks goes through
// here, so here a silent run takes each box's default answer instead of showing it, and here every
// message, shown or not, goes into the log with its answer.
#include "ui/Messages.h"

#include "core/InstallLog.h"
#include "core/RunFrame.h"

enum {
    FORMAT_CAPACITY = 256,
    MESSAGE_CAPACITY = 512,
};

// What a user who takes every default answers: OK to a notice and to the prompt that offers to
// go on, and to the one yes-or-no question what the switches say.
static int SilentAnswer(UINT type)
{
    return (type & MB_TYPEMASK) == MB_YESNO ? Run.SilentQuestionAnswer : IDOK;
}

static const char *AnswerName(int answer)
{
    switch (answer) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDYES: return "Yes";
    case IDNO: return "No";
    default: return "none";
    }
}

static int AskUser(HWND owner, const char *text, const char *caption, UINT type)
{
    int answer;
    if (Run.Silent) {
        // A box would have ended the mouse capture the program group's step leaves behind.
        ReleaseCapture();
        answer = SilentAnswer(type);
    } else {
        answer = MessageBoxA(owner, text, caption, type);
    }
    LogLine("Message %s: \"%s\": \"%s\" -> %s", Run.Silent ? "not shown (silent run)" : "shown", caption, text,
            AnswerName(answer));
    return answer;
}

int ShowMessage(HINSTANCE instance, const char *caption, HWND owner, UINT id, UINT type)
{
    char text[MESSAGE_CAPACITY];
    text[0] = '\0';
    LoadStringA(instance, id, text, MESSAGE_CAPACITY);
    return AskUser(owner, text, caption, type);
}

int ShowMessageFormatted(HINSTANCE instance, const char *caption, HWND owner, UINT id,
                         const char *argument, UINT type)
{
    char format[FORMAT_CAPACITY];
    char text[MESSAGE_CAPACITY];
    format[0] = '\0';
    LoadStringA(instance, id, format, FORMAT_CAPACITY);
    // Every argument comes from a buffer of at most 260 bytes and every format has one %s and
    // fewer than 250 characters, so the text always fits.
    wsprintfA(text, format, argument);
    return AskUser(owner, text, caption, type);
}
