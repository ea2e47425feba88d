// A fresh simulated machine for each test: sandbox, default paths, English, no user.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "SimControl.h"

class SimTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A user who answers every message box with `answer` and records nothing else.
    static sim::User AnswerAll(int answer);
};

// The texts of the recorded message boxes, in order.
std::vector<std::string> BoxTexts();
// The files below a Windows folder, by their paths relative to it ("help\\Quillet.hlp"), sorted.
std::vector<std::string> FilesBelow(const std::string &windowsFolder);
// A plain top-level window of the tests' own class, to own the dialogs and boxes a test opens.
HWND MakeTestWindow(DWORD style = WS_OVERLAPPEDWINDOW, int x = 0, int y = 0, int width = 1024, int height = 768);
// Nothing the program took is still held: files, keys, memory, GDI objects, COM, the mouse capture.
void ExpectNothingHeld();
// Resource string `id` in the current language, formatted with `argument` when it takes one.
std::string ResourceText(UINT id, const std::string &argument = "");
