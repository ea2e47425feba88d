// win32sim resources: the string tables, dialog templates and icon names are read from the same
// .rc files that windres compiles into setup.exe, so the two builds cannot disagree on a text.
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "SimInternal.h"

#ifndef SIM_RESOURCE_DIR
#error "SIM_RESOURCE_DIR names the folder of setup.rc"
#endif

namespace {

using sim::detail::DialogItem;
using sim::detail::DialogTemplate;

struct Resources {
    bool loaded = false;
    std::map<std::pair<LANGID, UINT>, std::string> strings;  // ANSI texts
    std::vector<DialogTemplate> dialogs;
    std::vector<std::string> icons;                         // names, upper case
};

Resources &TheResources()
{
    static Resources resources;
    return resources;
}

// A tokenizer for the small part of the resource language that setup.rc uses.
class RcReader {
public:
    RcReader(std::map<std::string, long> &defines, Resources &out) : defines_(defines), out_(out) {}

    void ReadFile(const std::string &path)
    {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            sim::detail::Fail("cannot read resource file " + path);
        std::stringstream text;
        text << in.rdbuf();
        std::string folder = path.substr(0, path.rfind('/') + 1);
        Parse(Preprocess(text.str(), folder), path);
    }

private:
    // Handles #include, #define NAME number, #ifndef RC_INVOKED blocks and comments; returns the
    // rest of the text with directives removed.
    std::string Preprocess(const std::string &text, const std::string &folder)
    {
        std::string out;
        std::istringstream lines(StripComments(text));
        std::string line;
        int skipping = 0;
        while (std::getline(lines, line)) {
            std::string trimmed = Trim(line);
            if (trimmed.rfind("#", 0) == 0) {
                std::istringstream words(trimmed.substr(1));
                std::string directive, name;
                words >> directive >> name;
                if (directive == "ifndef" || directive == "ifdef" || directive == "if") {
                    // Only the C++ part of a header, kept from the resource compiler, is skipped.
                    skipping += (skipping > 0 || (directive == "ifndef" && name == "RC_INVOKED")) ? 1 : 0;
                } else if (directive == "endif") {
                    if (skipping > 0)
                        skipping--;
                } else if (skipping == 0 && directive == "define") {
                    std::string value;
                    words >> value;
                    if (!value.empty())
                        defines_[name] = std::strtol(value.c_str(), nullptr, 0);
                } else if (skipping == 0 && directive == "include") {
                    std::string file = name.substr(1, name.size() - 2);
                    std::ifstream in(folder + file, std::ios::binary);
                    if (!in)
                        sim::detail::Fail("cannot read resource file " + folder + file);
                    std::stringstream included;
                    included << in.rdbuf();
                    if (file.size() > 2 && file.substr(file.size() - 2) == ".h")
                        Preprocess(included.str(), folder);
                    else
                        out += Preprocess(included.str(), folder);
                }
                out += "\n";
                continue;
            }
            if (skipping == 0)
                out += line;
            out += "\n";
        }
        return out;
    }

    static std::string StripComments(const std::string &text)
    {
        std::string out;
        bool inString = false;
        for (size_t i = 0; i < text.size(); i++) {
            char c = text[i];
            if (inString) {
                out += c;
                if (c == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"')
                        out += text[++i];
                    else
                        inString = false;
                }
            } else if (c == '"') {
                inString = true;
                out += c;
            } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
                size_t end = text.find("*/", i + 2);
                for (size_t j = i; j < (end == std::string::npos ? text.size() : end + 2); j++)
                    if (text[j] == '\n')
                        out += '\n';
                i = end == std::string::npos ? text.size() : end + 1;
            } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
                while (i < text.size() && text[i] != '\n')
                    i++;
                out += '\n';
            } else {
                out += c;
            }
        }
        return out;
    }

    static std::string Trim(const std::string &text)
    {
        size_t first = text.find_first_not_of(" \t\r");
        size_t last = text.find_last_not_of(" \t\r");
        return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
    }

    // ---- tokens ----
    struct Token {
        enum Kind { Word, Number, String, Punct, End } kind;
        std::string text;
        long number = 0;
    };

    void Parse(const std::string &text, const std::string &path)
    {
        text_ = text;
        at_ = 0;
        path_ = path;
        while (Peek().kind != Token::End) {
            Token first = Next();
            if (first.kind != Token::Word && first.kind != Token::Number)
                Error("unexpected " + first.text);
            std::string keyword = Upper(first.text);
            if (keyword == "LANGUAGE") {
                long primary = Expression();
                Expect(",");
                long sub = Expression();
                language_ = (LANGID)MAKELANGID(primary, sub);
            } else if (keyword == "STRINGTABLE") {
                ReadStringTable();
            } else {
                Token type = Next();
                std::string kind = Upper(type.text);
                std::string name = first.kind == Token::Number ? std::to_string(first.number) : first.text;
                if (kind == "DIALOG")
                    ReadDialog(name);
                else if (kind == "ICON")
                    ReadIcon(name);
                else
                    Error("unknown resource type " + type.text);
            }
        }
    }

    void ReadStringTable()
    {
        SkipOptions();
        ExpectBegin();
        while (!IsEnd(Peek())) {
            long id = Expression();
            if (Peek().kind == Token::Punct && Peek().text == ",")
                Next();
            Token text = Next();
            if (text.kind != Token::String)
                Error("string expected for id " + std::to_string(id));
            out_.strings[{ language_, (UINT)id }] = text.text;
        }
        Next();
    }

    void ReadDialog(const std::string &name)
    {
        DialogTemplate dialog;
        dialog.name = Upper(name);
        dialog.language = language_;
        dialog.x = (int)Expression();
        Expect(",");
        dialog.y = (int)Expression();
        Expect(",");
        dialog.cx = (int)Expression();
        Expect(",");
        dialog.cy = (int)Expression();
        for (;;) {
            Token option = Peek();
            std::string word = Upper(option.text);
            if (option.kind != Token::Word || word == "BEGIN")
                break;
            Next();
            if (word == "STYLE") {
                dialog.style = (DWORD)Expression();
            } else if (word == "CAPTION") {
                dialog.caption = Next().text;
            } else if (word == "FONT") {
                dialog.pointSize = (int)Expression();
                Expect(",");
                dialog.font = Next().text;
            } else {
                Error("unknown dialog option " + option.text);
            }
        }
        ExpectBegin();
        while (!IsEnd(Peek())) {
            Token control = Next();
            if (Upper(control.text) != "CONTROL")
                Error("only CONTROL statements are read, not " + control.text);
            DialogItem item;
            item.text = Next().text;
            Expect(",");
            item.id = (int)Expression();
            Expect(",");
            item.className = Upper(Next().text);
            Expect(",");
            item.style = (DWORD)Expression();
            Expect(",");
            item.x = (int)Expression();
            Expect(",");
            item.y = (int)Expression();
            Expect(",");
            item.cx = (int)Expression();
            Expect(",");
            item.cy = (int)Expression();
            dialog.items.push_back(item);
        }
        Next();
        out_.dialogs.push_back(dialog);
    }

    void ReadIcon(const std::string &name)
    {
        Token file = Next();
        if (file.kind != Token::String)
            Error("icon file name expected");
        out_.icons.push_back(Upper(name));
    }

    void SkipOptions()
    {
        while (Peek().kind == Token::Word && Upper(Peek().text) != "BEGIN")
            Next();
    }

    long Expression()
    {
        long value = Term();
        while (Peek().kind == Token::Punct && Peek().text == "|") {
            Next();
            value |= Term();
        }
        return value;
    }

    long Term()
    {
        Token token = Next();
        if (token.kind == Token::Number)
            return token.number;
        if (token.kind == Token::Word) {
            auto found = defines_.find(token.text);
            if (found == defines_.end())
                Error("unknown name " + token.text);
            return found->second;
        }
        Error("number expected, not " + token.text);
    }

    void Expect(const std::string &punct)
    {
        Token token = Next();
        if (token.kind != Token::Punct || token.text != punct)
            Error("'" + punct + "' expected, not '" + token.text + "'");
    }

    void ExpectBegin()
    {
        Token token = Next();
        if (Upper(token.text) != "BEGIN" && token.text != "{")
            Error("BEGIN expected");
    }

    static bool IsEnd(const Token &token)
    {
        return Upper(token.text) == "END" || token.text == "}" || token.kind == Token::End;
    }

    Token Peek()
    {
        size_t saved = at_;
        Token token = Next();
        at_ = saved;
        return token;
    }

    Token Next()
    {
        while (at_ < text_.size() && isspace((unsigned char)text_[at_]))
            at_++;
        if (at_ >= text_.size())
            return { Token::End, "", 0 };
        char c = text_[at_];
        if (c == '"') {
            std::string value;
            at_++;
            for (;;) {
                if (at_ >= text_.size())
                    Error("unterminated string");
                char d = text_[at_++];
                if (d == '"') {
                    if (at_ < text_.size() && text_[at_] == '"') {
                        value += '"';
                        at_++;
                        continue;
                    }
                    break;
                }
                if (d == '\\' && at_ < text_.size()) {
                    char e = text_[at_++];
                    value += e == 'n' ? '\n' : e == 't' ? '\t' : e;
                    continue;
                }
                value += d;
            }
            return { Token::String, sim::detail::Utf8ToAnsi(value), 0 };
        }
        if (isdigit((unsigned char)c)) {
            size_t start = at_;
            while (at_ < text_.size() && isalnum((unsigned char)text_[at_]))
                at_++;
            std::string digits = text_.substr(start, at_ - start);
            if (!digits.empty() && (digits.back() == 'L' || digits.back() == 'l'))
                digits.pop_back();
            return { Token::Number, digits, std::strtol(digits.c_str(), nullptr, 0) };
        }
        if (isalpha((unsigned char)c) || c == '_') {
            size_t start = at_;
            while (at_ < text_.size() && (isalnum((unsigned char)text_[at_]) || text_[at_] == '_'))
                at_++;
            return { Token::Word, text_.substr(start, at_ - start), 0 };
        }
        at_++;
        return { Token::Punct, std::string(1, c), 0 };
    }

    static std::string Upper(const std::string &text)
    {
        std::string upper = text;
        for (char &c : upper)
            c = (char)toupper((unsigned char)c);
        return upper;
    }

    [[noreturn]] void Error(const std::string &what)
    {
        sim::detail::Fail(path_ + ": " + what);
    }

    std::map<std::string, long> &defines_;
    Resources &out_;
    std::string text_, path_;
    size_t at_ = 0;
    LANGID language_ = 0;
};

Resources &Loaded()
{
    Resources &resources = TheResources();
    if (!resources.loaded) {
        std::map<std::string, long> defines;
        RcReader(defines, resources).ReadFile(std::string(SIM_RESOURCE_DIR) + "/setup.rc");
        resources.loaded = true;
    }
    return resources;
}

// The order in which the loader looks for a resource: the user's language, then neutral, then
// English, which is what a user of any other language sees.
std::vector<LANGID> LanguageOrder()
{
    return { sim::detail::Language(), 0, 1033 };
}

}  // namespace

namespace sim::detail {

void ResetResources()
{
    // The parsed files stay: they do not change during a test run.
}

std::string Utf8ToAnsi(const std::string &utf8)
{
    std::string ansi;
    for (size_t i = 0; i < utf8.size(); i++) {
        unsigned char c = (unsigned char)utf8[i];
        if (c < 0x80) {
            ansi += (char)c;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
            unsigned code = ((c & 0x1F) << 6) | ((unsigned char)utf8[++i] & 0x3F);
            ansi += code < 0x100 ? (char)code : '?';
        } else {
            while (i + 1 < utf8.size() && ((unsigned char)utf8[i + 1] & 0xC0) == 0x80)
                i++;
            ansi += '?';
        }
    }
    return ansi;
}

std::string AnsiToUtf8(const std::string &ansi)
{
    std::string utf8;
    for (unsigned char c : ansi) {
        if (c < 0x80) {
            utf8 += (char)c;
        } else {
            utf8 += (char)(0xC0 | (c >> 6));
            utf8 += (char)(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

const DialogTemplate *FindDialogTemplate(LPCSTR name)
{
    Resources &resources = Loaded();
    std::string wanted = IS_INTRESOURCE(name) ? std::to_string((UINT_PTR)name) : Lower(name);
    for (LANGID language : LanguageOrder()) {
        for (const DialogTemplate &dialog : resources.dialogs) {
            if (dialog.language == language && Lower(dialog.name) == wanted)
                return &dialog;
        }
    }
    return nullptr;
}

bool FindString(UINT id, std::string *ansiText)
{
    Resources &resources = Loaded();
    for (LANGID language : LanguageOrder()) {
        auto found = resources.strings.find({ language, id });
        if (found != resources.strings.end()) {
            *ansiText = found->second;
            return true;
        }
    }
    return false;
}

bool IconExists(const std::string &name)
{
    Resources &resources = Loaded();
    for (const std::string &icon : resources.icons) {
        if (Lower(icon) == Lower(name))
            return true;
    }
    return false;
}

}  // namespace sim::detail

extern "C" int WINAPI LoadStringA(HINSTANCE, UINT id, LPSTR buffer, int bufferMax)
{
    if (buffer == nullptr || bufferMax <= 0)
        return 0;
    std::string text;
    if (!sim::detail::FindString(id, &text)) {
        buffer[0] = '\0';
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    size_t count = std::min(text.size(), (size_t)bufferMax - 1);
    memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return (int)count;
}
