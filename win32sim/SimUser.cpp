// win32sim records and the scripted user: what the program showed, and who answers it.
#include "SimInternal.h"

namespace {

struct UserState {
    sim::User user;
    std::vector<sim::MessageBoxRecord> boxes;
    std::vector<sim::TraceEntry> trace;
    std::vector<sim::JournalEntry> journal;
};

UserState &TheUser()
{
    static UserState state;
    return state;
}

}  // namespace

namespace sim {

void SetUser(const User &user)
{
    TheUser().user = user;
}

const std::vector<MessageBoxRecord> &MessageBoxes()
{
    return TheUser().boxes;
}

const std::vector<TraceEntry> &Trace()
{
    return TheUser().trace;
}

const std::vector<JournalEntry> &Journal()
{
    return TheUser().journal;
}

void ClearRecords()
{
    TheUser().boxes.clear();
    TheUser().trace.clear();
    TheUser().journal.clear();
}

}  // namespace sim

namespace sim::detail {

void ResetUser()
{
    TheUser() = UserState();
}

void AddTrace(const TraceEntry &entry)
{
    TheUser().trace.push_back(entry);
    if (entry.kind == TraceEntry::DialogOpened || entry.kind == TraceEntry::DialogClosed)
        AddJournal({ entry.kind == TraceEntry::DialogOpened ? JournalEntry::DialogShown : JournalEntry::DialogClosed,
                     entry.text });
}

void AddJournal(const JournalEntry &entry)
{
    TheUser().journal.push_back(entry);
}

const User &CurrentUser()
{
    return TheUser().user;
}

int AskMessageBox(MessageBoxRecord &record)
{
    UserState &state = TheUser();
    AddTrace({ TraceEntry::MessageBox, record.owner, 0, 0, 0, record.text });
    if (!state.user.onMessageBox)
        Fail("unexpected message box \"" + AnsiToUtf8(record.text) + "\" captioned \"" + AnsiToUtf8(record.caption) + "\"");
    // The hook may look at earlier boxes: record this one before asking.
    state.boxes.push_back(record);
    size_t index = state.boxes.size() - 1;
    int answer = state.user.onMessageBox(record);
    UINT buttons = record.type & MB_TYPEMASK;
    bool valid = (buttons == MB_OK && answer == IDOK) ||
                 (buttons == MB_OKCANCEL && (answer == IDOK || answer == IDCANCEL)) ||
                 (buttons == MB_YESNO && (answer == IDYES || answer == IDNO)) ||
                 (buttons == MB_YESNOCANCEL && (answer == IDYES || answer == IDNO || answer == IDCANCEL));
    if (!valid)
        Fail("the user answered " + std::to_string(answer) + " to a box without that button: \"" + AnsiToUtf8(record.text) + "\"");
    state.boxes[index].answer = answer;
    record.answer = answer;
    JournalEntry shown{ JournalEntry::MessageBoxShown, record.caption, "", record.text, record.type };
    shown.answer = answer;
    AddJournal(shown);
    return answer;
}

}  // namespace sim::detail
