// The world a whole-program fuzz target runs in: the stand-in reset onto a sandbox folder of the
// process's own, which goes again when the process ends, and the check that ends a run naming the
// property it broke.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "SimControl.h"

inline void ResetSandbox(const char *target)
{
    static std::string sandbox;
    if (sandbox.empty()) {
        const char *temp = getenv("TMPDIR");
        sandbox = std::string(temp != nullptr ? temp : "/tmp") + "/quillet-fuzz-" + target + "-" +
                  std::to_string(getpid());
    }
    sim::Reset(sandbox);
    // Registered after the stand-in's own state exists, so that it runs before that is destroyed.
    static bool cleanupRegistered = (atexit([] {
                                         sim::Reset(sandbox);
                                         for (const char *folder : { "/C/WINDOWS", "/C/DIST", "/C", "" })
                                             rmdir((sandbox + folder).c_str());
                                     }),
                                     true);
    (void)cleanupRegistered;
}

inline void Require(bool condition, const char *what)
{
    if (!condition) {
        fprintf(stderr, "fuzz target: %s\n", what);
        abort();
    }
}
