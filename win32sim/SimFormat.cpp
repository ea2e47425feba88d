// win32sim wsprintfA and wvsprintfA: the formatting routine's own rules (at most 1024 characters written, the
// conversions %s %c %d %i %u %x %X %ld %lu %lx and %%), not the C library's.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <string>

extern "C" int wvsprintfA(LPSTR buffer, LPCSTR format, va_list args)
{
    const size_t LIMIT = 1024;
    std::string out;
    for (const char *at = format; *at != '\0' && out.size() < LIMIT; at++) {
        if (*at != '%') {
            out += *at;
            continue;
        }
        at++;
        std::string directive = "%";
        while (*at == '-' || *at == '#' || *at == '0' || *at == ' ')
            directive += *at++;
        while (*at >= '0' && *at <= '9')
            directive += *at++;
        if (*at == '.') {
            directive += *at++;
            while (*at >= '0' && *at <= '9')
                directive += *at++;
        }
        bool isLong = false;
        if (*at == 'l' || *at == 'h') {
            isLong = *at == 'l';
            at++;
        }
        char conversion = *at;
        char piece[LIMIT + 1];
        switch (conversion) {
        case 's': {
            const char *text = va_arg(args, const char *);
            snprintf(piece, sizeof piece, (directive + "s").c_str(), text != nullptr ? text : "(null)");
            out += piece;
            break;
        }
        case 'c':
            snprintf(piece, sizeof piece, (directive + "c").c_str(), va_arg(args, int));
            out += piece;
            break;
        case 'd':
        case 'i':
            snprintf(piece, sizeof piece, (directive + "d").c_str(), isLong ? (int)va_arg(args, LONG) : va_arg(args, int));
            out += piece;
            break;
        case 'u':
        case 'x':
        case 'X':
            snprintf(piece, sizeof piece, (directive + conversion).c_str(), isLong ? (unsigned)va_arg(args, DWORD) : va_arg(args, unsigned));
            out += piece;
            break;
        case '\0':
            at--;
            break;
        default:
            out += conversion;  // "%%" and unknown conversions give the character itself
            break;
        }
    }
    if (out.size() > LIMIT - 1)
        out.resize(LIMIT - 1);
    memcpy(buffer, out.c_str(), out.size() + 1);
    return (int)out.size();
}

extern "C" int wsprintfA(LPSTR buffer, LPCSTR format, ...)
{
    va_list args;
    va_start(args, format);
    int length = wvsprintfA(buffer, format, args);
    va_end(args);
    return length;
}
