// Whole installations on the simulated machine: a distribution folder, a scripted user who answers
// the way a test says, and the run of the real entry point.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "SimFixture.h"
#include "core/InstallState.h"

extern const char EXAMPLE_SCRIPT[];
// A bottom-up 24-bit bitmap file of one colour.
std::string MakeBitmapFile(int width, int height, COLORREF color);

class InstallTest : public SimTest {
protected:
    void SetUp() override;

    // Lays out C:\DIST with the script and every file of the example distribution.
    void LayOutExample(const std::string &script = EXAMPLE_SCRIPT);
    // Runs setup.exe to its end with `arguments` on its command line; returns the exit code, also
    // one given to ExitProcess.
    int Run(const std::string &arguments = "");
    // Back to the default user and a fresh record of the run, for a table of runs in one test.
    void ResetRun();

    // What the user does. Defaults: Install in the directory dialog, Yes to the question and in
    // the file-types dialog, OK to every other box.
    std::function<void(HWND)> onDirectory;
    std::function<void(HWND)> onRegistration;
    std::function<int(const sim::MessageBoxRecord &)> onBox;
    std::function<void(const MSG &)> onMessage;
    std::function<void()> onIdle;

    // The private messages posted to the main window, in order, by name.
    std::vector<std::string> PostedSteps() const;
    // The resource string `id` formatted with `argument`.
    static std::string Text(UINT id, const std::string &argument = "") { return ResourceText(id, argument); }

    HWND mainWindow = nullptr;
    bool twoStepsPending = false;   // ever two private messages waiting at once
    bool badParameters = false;     // a private message with a parameter other than 0
};
