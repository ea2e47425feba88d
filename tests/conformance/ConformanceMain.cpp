// conformance.exe: the checks against a real Win32 implementation (run under Wine by the e2e run).
#include <windows.h>

#include <stdio.h>

#include "Conformance.h"

int main()
{
    int failures = RunConformance(GetModuleHandleA(NULL), "C:\\conformance-scratch");
    printf("conformance: %d failure(s)\n", failures);
    return failures == 0 ? 0 : 1;
}
