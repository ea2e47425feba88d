// The same conformance checks that run against Wine's Win32, run against the stand-in.
#include "SimFixture.h"

#include "../conformance/Conformance.h"

namespace {

class ConformanceTest : public SimTest {};

TEST_F(ConformanceTest, TheStandInBehavesLikeWin32)
{
    EXPECT_EQ(RunConformance(sim::Instance(), "C:\\conformance-scratch"), 0);
}

}  // namespace
