// The script format's silent pitfalls: every line that the installer's reader takes otherwise than
// a publisher reads it. Lines are split and keys matched by the reader's own functions.
#include <windows.h>

#include <string.h>

#include <algorithm>
#include <map>
#include <set>

#include "script/ScriptReader.h"
#include "tools/DryRun.h"

namespace {

enum {
    VALUE_LIMIT = 127,  // bytes a 128-byte field keeps
    FIRST_PRINTABLE = 0x20,
};

const char LF = '\n';
const char CR = '\r';

struct Line {
    int Number;
    size_t Start;    // offset of its first byte
    size_t Content;  // bytes before its line end
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string Lower(std::string text)
{
    for (char &c : text)
        c = (char)tolower((unsigned char)c);
    return text;
}

std::string Quoted(const std::string &ansi)
{
    return "\"" + AnsiToUtf8(ansi) + "\"";
}

class Pitfalls {
public:
    Pitfalls(const std::string &text, const ScriptNames &names, ScriptFacts *facts)
        : text_(text), names_(names), facts_(facts)
    {
    }

    std::vector<DryRunWarning> Find();

private:
    void Add(int line, const char *code, const std::string &text)
    {
        for (const DryRunWarning &warning : warnings_) {
            if (warning.Line == line && warning.Code == code)
                return;
        }
        warnings_.push_back({ line, code, text });
    }
    std::string Content(const Line &line) const { return text_.substr(line.Start, line.Content); }
    bool ParseEntry(const Line &line, ScriptLine *parsed, std::string *content, std::string *value) const;
    void SplitLines();
    void CheckBytes(const Line &line);
    void CheckHeaders();
    void CheckKeyedSection(const std::vector<Line> &body, const std::vector<std::string> &keys,
                           const std::string &section);
    void CheckFiles(const std::vector<Line> &body);
    void CheckSuffixes(int line, const std::string &list);
    void CheckGroup(const std::vector<Line> &body);

    const std::string &text_;
    const ScriptNames &names_;
    ScriptFacts *facts_;
    std::vector<Line> lines_;
    std::map<std::string, std::vector<Line>> bodies_;  // of the sections the reader opens
    std::vector<DryRunWarning> warnings_;
    std::pair<int, std::string> suffixes_;  // the Suffixes line that wins, and its value
};

void Pitfalls::SplitLines()
{
    size_t at = 0;
    int number = 1;
    while (at < text_.size()) {
        size_t end = text_.find(LF, at);
        size_t content = (end == std::string::npos ? text_.size() : end) - at;
        // CR before LF belongs to the line end; any other CR is content.
        if (end != std::string::npos && content > 0 && text_[at + content - 1] == CR)
            content--;
        lines_.push_back({ number++, at, content });
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
}

// Bytes the installer shows otherwise than the publisher wrote them.
void Pitfalls::CheckBytes(const Line &line)
{
    std::string content = Content(line);
    size_t cr = content.find(CR);
    if (cr != std::string::npos) {
        Add(line.Number, "cr-line-ends",
            cr + 1 == content.size() && line.Start + line.Content == text_.size()
                ? "the file ends with a CR without LF: it belongs to this line's value"
                : "a CR without LF does not end a line: everything after it belongs to this line");
    }
    for (size_t i = 0; i < content.size(); i++) {
        unsigned char c = (unsigned char)content[i];
        if (c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D) {
            Add(line.Number, "not-cp1252", "byte 0x" + std::string(1, "0123456789ABCDEF"[c >> 4]) +
                                                std::string(1, "0123456789ABCDEF"[c & 15]) +
                                                " is no character of code page 1252");
            return;
        }
        // A UTF-8 sequence: a lead byte and its continuation bytes, read by the installer as 1252.
        size_t follow = c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : 0;
        bool sequence = follow > 0 && i + follow < content.size() + 1;
        for (size_t k = 1; k <= follow && sequence; k++)
            sequence = i + k < content.size() && ((unsigned char)content[i + k] & 0xC0) == 0x80;
        if (sequence) {
            std::string bytes = content.substr(i, follow + 1);
            Add(line.Number, "not-cp1252",
                "UTF-8 text: the installer reads code page 1252 and shows " + Quoted(bytes) + " for " +
                    (bytes == "\xEF\xBB\xBF" ? std::string("a byte-order mark") : "\"" + bytes + "\""));
            return;
        }
        if (c < 0x20 && c != '\t' && c != CR) {
            Add(line.Number, "not-cp1252", "control byte " + std::to_string(c) + " in the text");
            return;
        }
    }
}

// Which section each header opens, and the headers that open none.
void Pitfalls::CheckHeaders()
{
    const std::vector<std::string> sections = { names_.Files, names_.Group, names_.Install, names_.Registration };
    std::map<std::string, int> opened;  // section -> line of its header
    std::string current;                // the section whose body is being read, "" for none
    bool inBody = false;
    for (const Line &line : lines_) {
        std::string content = Content(line);
        if (content.empty() || content[0] != '[') {
            if (!current.empty())
                bodies_[current].push_back(line);
            else if (!inBody && !content.empty() && content[0] != ';')
                Add(line.Number, "ignored-key", "a line before the first section is never read");
            continue;
        }
        inBody = true;
        current.clear();
        std::string match;
        for (const std::string &name : sections) {
            if (content.compare(1, name.size(), name) == 0) {
                match = name;
                break;
            }
        }
        if (match.empty()) {
            std::string written = content.substr(1, content.find(']') == std::string::npos ? std::string::npos
                                                                                          : content.find(']') - 1);
            std::string folded = Lower(written);
            folded.erase(0, folded.find_first_not_of(" \t"));
            std::string known;
            for (const std::string &name : sections) {
                if (folded.compare(0, name.size(), Lower(name)) == 0)
                    known = name;
            }
            Add(line.Number, "ignored-key",
                known.empty() ? "section [" + AnsiToUtf8(written) + "] is never read"
                              : "[" + AnsiToUtf8(written) + "] opens no section: names are compared exactly, case "
                                "and blanks included (the installer reads [" + known + "])");
            continue;
        }
        if (opened.count(match)) {
            Add(line.Number, "duplicate-key",
                "a second [" + match + "] header (the first is on line " + std::to_string(opened[match]) +
                    ") is never reached: its lines are never read");
            continue;
        }
        opened[match] = line.Number;
        if (match == names_.Files)
            facts_->FilesLine = line.Number;
        current = match;
        bodies_[match];
        if (content.size() <= 1 + match.size() || content[1 + match.size()] != ']') {
            size_t close = content.find(']');
            Add(line.Number, "prefix-key",
                Quoted(close == std::string::npos ? content : content.substr(0, close + 1)) + " opens [" + match +
                    "]: section names are matched by their first letters");
        }
    }
}

// [Install] and [Registration]: every line tried against every key by its first letters.
void Pitfalls::CheckKeyedSection(const std::vector<Line> &body, const std::vector<std::string> &keys,
                                 const std::string &section)
{
    std::map<std::string, int> setOn;
    for (const Line &line : body) {
        std::string content = Content(line);
        if (content.empty() || content[0] == ';')
            continue;
        const char *start = text_.c_str() + line.Start;
        ScriptLine parsed = {};
        ParseScriptLine(start, &parsed);
        std::string key = content.substr(0, (size_t)parsed.KeyLength);
        bool matched = false;
        for (const std::string &name : keys) {
            if (KeyMatches(start, name.c_str(), (int)name.size()) != 0)
                continue;
            matched = true;
            if (key != name)
                Add(line.Number, "prefix-key",
                    Quoted(key) + " counts as " + name + ": keys are matched by their first letters");
            if (setOn.count(name))
                Add(line.Number, "duplicate-key",
                    name + " is set again (first on line " + std::to_string(setOn[name]) + "): the last one wins");
            setOn[name] = line.Number;
            if (parsed.ValueStart == NULL)
                Add(line.Number, "no-equals", "no '=': " + name + " is set to an empty value");
            if (parsed.ValueLength > VALUE_LIMIT)
                Add(line.Number, "value-cut",
                    "the value of " + name + " has " + std::to_string(parsed.ValueLength) +
                        " bytes: only the first 127 are kept");
            if (name == names_.Bitmap)
                facts_->BitmapLine = line.Number;
            if (name == names_.Application)
                facts_->ApplicationLine = line.Number;
            if (name == names_.Suffixes)
                suffixes_ = { line.Number, parsed.ValueStart != NULL
                                               ? std::string(parsed.ValueStart, (size_t)parsed.ValueLength)
                                               : std::string() };
        }
        if (matched)
            continue;
        if (parsed.ValueStart == NULL) {
            Add(line.Number, "no-equals", "an entry without '=' is never read");
            continue;
        }
        std::string known;
        std::string folded = Lower(key);
        std::string trimmed = folded.substr(std::min(folded.size(), folded.find_first_not_of(" \t")));
        for (const std::string &name : keys) {
            if (trimmed.compare(0, name.size(), Lower(name)) == 0)
                known = name;
        }
        if (IsBlank(content[0]))
            Add(line.Number, "ignored-key",
                "a blank before the key: the line is never read" + (known.empty() ? "" : " (" + known + ")"));
        else if (!known.empty())
            Add(line.Number, "ignored-key",
                Quoted(key) + " is never read: keys are compared case included (" + known + ")");
        else
            Add(line.Number, "ignored-key", "unknown key " + Quoted(key) + " in [" + section + "] is never read");
    }
}

// The suffixes the installer registers, each as the key "." and the suffix: a dot of its own or a
// character no file name holds makes a key that no file name ever ends in.
void Pitfalls::CheckSuffixes(int line, const std::string &list)
{
    static const char NOT_IN_FILE_NAMES[] = "\\/:*?\"<>|";
    std::string kept = list.substr(0, VALUE_LIMIT);
    std::string problems;
    size_t at = 0;
    while ((at = kept.find_first_not_of(" \t", at)) != std::string::npos) {
        size_t end = std::min(kept.find_first_of(" \t", at), kept.size());
        std::string suffix = kept.substr(at, end - at);
        at = end;
        std::string problem;
        size_t bad = suffix.find_first_of(NOT_IN_FILE_NAMES);
        for (size_t i = 0; i < suffix.size() && bad == std::string::npos; i++) {
            if ((unsigned char)suffix[i] < FIRST_PRINTABLE)
                bad = i;
        }
        if (suffix[0] == '.')
            problem = "starts with a dot: the key " + Quoted("." + suffix) +
                      " is registered, which no file name ends in";
        else if (suffix.find('.') != std::string::npos)
            problem = "holds a dot: a file name's suffix is only what follows its last dot, so no file has it";
        else if (bad != std::string::npos && (unsigned char)suffix[bad] < FIRST_PRINTABLE)
            problem = "holds control byte " + std::to_string((unsigned char)suffix[bad]) + ", which no file name can";
        else if (bad != std::string::npos)
            problem = "holds '" + suffix.substr(bad, 1) + "', which no file name can";
        if (!problem.empty())
            problems += (problems.empty() ? "suffix " : "; suffix ") + Quoted(suffix) + " " + problem;
    }
    if (!problems.empty())
        Add(line, "bad-suffix", problems);
}

// How many directories a path climbs above its start with "..", the worst point of the walk.
int DeepestClimb(const std::string &path)
{
    int depth = 0, lowest = 0;
    std::string part;
    for (size_t i = 0; i <= path.size(); i++) {
        if (i == path.size() || path[i] == '\\' || path[i] == '/') {
            if (part == "..")
                lowest = std::min(lowest, --depth);
            else if (!part.empty() && part != ".")
                depth++;
            part.clear();
        } else {
            part += path[i];
        }
    }
    return -lowest;
}

// One [Files] or [Group] entry as the reader parses it, with its text and its value (empty without
// '='). FALSE for an empty line or a comment, which the entries' walks treat each in their own way.
bool Pitfalls::ParseEntry(const Line &line, ScriptLine *parsed, std::string *content, std::string *value) const
{
    *parsed = {};
    ParseScriptLine(text_.c_str() + line.Start, parsed);
    *content = Content(line);
    if (content->empty() || (*content)[0] == ';' || (parsed->KeyLength == 0 && parsed->ValueLength == 0))
        return false;
    *value = parsed->ValueStart != NULL ? std::string(parsed->ValueStart, (size_t)parsed->ValueLength)
                                        : std::string();
    return true;
}

void Pitfalls::CheckFiles(const std::vector<Line> &body)
{
    std::map<std::string, int> destinations;
    for (const Line &line : body) {
        ScriptLine parsed;
        std::string content, value;
        if (!ParseEntry(line, &parsed, &content, &value))
            continue;
        FilesEntry entry;
        entry.Line = line.Number;
        entry.Label = content.substr(0, (size_t)parsed.KeyLength);
        if (parsed.ValueStart == NULL)
            Add(line.Number, "no-equals", "an entry without '=' names no file: it counts as a failed copy");
        entry.WindowsDirectory = !value.empty() && value[0] == '%';
        if (entry.WindowsDirectory)
            value.erase(0, 1);
        if (value.size() > VALUE_LIMIT) {
            bool lostSplit = value.find(';', VALUE_LIMIT) != std::string::npos &&
                             value.rfind(';', VALUE_LIMIT - 1) != value.rfind(';');
            Add(line.Number, "value-cut",
                "the value has " + std::to_string(value.size()) + " bytes: only the first 127 are kept" +
                    (lostSplit ? ", and the ';' beyond them splits nothing" : ""));
            value.resize(VALUE_LIMIT);
        }
        size_t split = value.rfind(';');
        entry.Destination = split == std::string::npos ? value : value.substr(0, split);
        entry.Source = split == std::string::npos ? value : value.substr(split + 1);
        if (DeepestClimb(entry.Destination) > 0)
            Add(line.Number, "escaping-destination",
                "destination " + Quoted(entry.Destination) + " leaves the " +
                    (entry.WindowsDirectory ? "Windows directory" : "target directory") + " with '..'");
        std::string place = (entry.WindowsDirectory ? "%" : "") + Lower(entry.Destination);
        if (!entry.Destination.empty() && destinations.count(place))
            Add(line.Number, "duplicate-key",
                "destination " + Quoted(entry.Destination) + " is copied again (first on line " +
                    std::to_string(destinations[place]) + "): the last copy wins");
        destinations[place] = line.Number;
        facts_->Files.push_back(entry);
    }
}

// A decimal number as the installer reads an icon index: blanks, a sign, digits, nothing else.
bool IsIconIndex(const std::string &text)
{
    size_t at = text.find_first_not_of(" \t\r\v\f");
    if (at == std::string::npos)
        return true;  // empty: 0, as intended by a publisher who leaves it out
    if (text[at] == '+' || text[at] == '-')
        at++;
    size_t digits = at;
    while (at < text.size() && isdigit((unsigned char)text[at]))
        at++;
    return at > digits && at == text.size();
}

void Pitfalls::CheckGroup(const std::vector<Line> &body)
{
    std::map<std::string, int> names;
    size_t index = 0;
    for (; index < body.size(); index++) {
        const Line &line = body[index];
        ScriptLine parsed;
        std::string content, value;
        if (!ParseEntry(line, &parsed, &content, &value))
            break;
        GroupEntry entry;
        entry.Line = line.Number;
        entry.Name = content.substr(0, std::min((size_t)parsed.KeyLength, (size_t)VALUE_LIMIT));
        if (parsed.ValueStart == NULL)
            Add(line.Number, "group-entry",
                "no '=': a shortcut named by the whole line, with an empty target, is made");
        if (parsed.KeyLength > VALUE_LIMIT)
            Add(line.Number, "value-cut", "the shortcut's name has more than 127 bytes: it is cut");
        if (value.size() > VALUE_LIMIT) {
            Add(line.Number, "value-cut",
                "the value has " + std::to_string(value.size()) + " bytes: only the first 127 are kept");
            value.resize(VALUE_LIMIT);
        }
        std::vector<std::string> fields;
        size_t at = 0;
        for (int i = 0; i < 3; i++) {
            size_t comma = value.find(',', at);
            fields.push_back(value.substr(std::min(at, value.size()), comma == std::string::npos ? std::string::npos
                                                                                                  : comma - at));
            at = comma == std::string::npos ? value.size() : comma + 1;
        }
        fields.push_back(value.substr(std::min(at, value.size())));
        size_t commas = std::count(value.begin(), value.end(), ',');
        entry.Target = fields[0];
        entry.Description = fields[1];
        entry.IconFile = fields[2];
        entry.IconIndex = fields[3];
        if (parsed.ValueStart != NULL && commas != 3)
            Add(line.Number, "group-entry",
                std::to_string(commas + 1) + " field(s) where name=target,description,icon,index has 4");
        else if (!IsIconIndex(entry.IconIndex))
            Add(line.Number, "group-entry", "icon index " + Quoted(entry.IconIndex) + " is not a number: 0 is used");
        if (entry.Name.empty())
            Add(line.Number, "group-entry", "a shortcut without a name: its file is the group folder's own name");
        else if (entry.Name.size() < 4 || Lower(entry.Name.substr(entry.Name.size() - 4)) != ".lnk")
            Add(line.Number, "group-entry",
                "shortcut " + Quoted(entry.Name) + " has no .lnk extension: none is added, so it is no shortcut");
        if (entry.Target.empty() && parsed.ValueStart != NULL)
            Add(line.Number, "group-entry", "a shortcut with an empty target points at the target directory");
        if (names.count(Lower(entry.Name)))
            Add(line.Number, "duplicate-key",
                "shortcut " + Quoted(entry.Name) + " is made again (first on line " +
                    std::to_string(names[Lower(entry.Name)]) + "): the last one wins");
        names[Lower(entry.Name)] = line.Number;
        facts_->Group.push_back(entry);
    }
    if (index >= body.size())
        return;
    int lost = 0;
    for (size_t rest = index + 1; rest < body.size(); rest++) {
        std::string content = Content(body[rest]);
        if (!content.empty() && content[0] != ';')
            lost++;
    }
    if (lost > 0) {
        std::string content = Content(body[index]);
        Add(body[index].Number, "group-cut",
            std::string(content.empty() ? "this empty line" : content[0] == ';' ? "this comment" : "this line") +
                " ends the [Group] list: " + std::to_string(lost) + " line(s) below it are never read");
    }
}

std::vector<DryRunWarning> Pitfalls::Find()
{
    SplitLines();
    for (const Line &line : lines_)
        CheckBytes(line);
    CheckHeaders();
    CheckKeyedSection(bodies_[names_.Install], { names_.Bitmap, names_.Application, names_.Caption, names_.Directory },
                      names_.Install);
    if (bodies_.count(names_.Registration))
        CheckKeyedSection(bodies_[names_.Registration], { names_.Suffixes }, names_.Registration);
    if (suffixes_.first != 0)
        CheckSuffixes(suffixes_.first, suffixes_.second);
    CheckFiles(bodies_[names_.Files]);
    if (bodies_.count(names_.Group))
        CheckGroup(bodies_[names_.Group]);
    std::stable_sort(warnings_.begin(), warnings_.end(),
                     [](const DryRunWarning &a, const DryRunWarning &b) { return a.Line < b.Line; });
    return warnings_;
}

}  // namespace

std::vector<DryRunWarning> FindScriptPitfalls(const std::string &script, const ScriptNames &names,
                                              ScriptFacts *facts)
{
    // The reader sees the text up to its first NUL; the caller reports what lies beyond.
    std::string text = script.substr(0, script.find('\0'));
    Pitfalls pitfalls(text, names, facts);
    std::vector<DryRunWarning> warnings = pitfalls.Find();
    if (text.size() < script.size()) {
        int line = 1 + (int)std::count(text.begin(), text.end(), LF);
        warnings.push_back({ line, "not-cp1252", "a NUL byte ends the text here: the rest of the file is never read" });
        std::stable_sort(warnings.begin(), warnings.end(),
                         [](const DryRunWarning &a, const DryRunWarning &b) { return a.Line < b.Line; });
    }
    return warnings;
}
