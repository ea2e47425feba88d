// Message boxes built from the string resources.
#include "ui/Messages.h"

enum {
    FORMAT_CAPACITY = 256,
    MESSAGE_CAPACITY = 512,
};

int ShowMessage(HINSTANCE instance, const char *caption, HWND owner, UINT id, UINT type)
{
    char text[MESSAGE_CAPACITY];
    text[0] = '\0';
    LoadStringA(instance, id, text, MESSAGE_CAPACITY);
    return MessageBoxA(owner, text, caption, type);
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
    return MessageBoxA(owner, text, caption, type);
}
