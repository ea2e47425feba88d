// The script reader on a 50 MB script: finding a section at its end, and walking every line.
#include <benchmark/benchmark.h>

#include <string>

#include "script/ScriptReader.h"

namespace {

const std::string &LargeScript()
{
    static std::string script = [] {
        std::string text = "[Install]\r\nApplication=Quillet\r\n[Files]\r\n";
        int n = 0;
        while (text.size() < 50u * 1024 * 1024)
            text += "Entry " + std::to_string(n++) + " = folder\\file" + std::to_string(n) + ".txt;source.txt\r\n";
        text += "[Group]\r\nQuillet.lnk=Quillet.exe,Text editor,%Quillet.exe,0\r\n";
        return text;
    }();
    return script;
}

void FindSectionAtTheEnd(benchmark::State &state)
{
    const std::string &script = LargeScript();
    for (auto _ : state) {
        int cursor = 0;
        int result = FindScriptSection(NULL, "Install", NULL, "Group", 0, script.c_str(), &cursor);
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(cursor);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)script.size());
}
BENCHMARK(FindSectionAtTheEnd)->Unit(benchmark::kMillisecond);

void WalkEveryLine(benchmark::State &state)
{
    const std::string &script = LargeScript();
    for (auto _ : state) {
        int cursor = 0, lines = 0;
        ScriptLine line;
        for (;;) {
            int length = ParseScriptLine(script.c_str() + cursor, &line);
            if (length == 0) {
                // A header: step over it as a walker of the next section would.
                if (script[cursor] == '\0')
                    break;
                length = (int)(script.find('\n', cursor) - cursor) + 1;
            }
            cursor += length;
            lines++;
        }
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)script.size());
}
BENCHMARK(WalkEveryLine)->Unit(benchmark::kMillisecond);

}  // namespace
