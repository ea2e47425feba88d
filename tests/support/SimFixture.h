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
