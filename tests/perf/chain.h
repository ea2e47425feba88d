// Resource ids of chain.exe's copy dialog, laid out like the installer's; read by chain.rc and chain.cpp.
#pragma once

#define IDD_CHAIN_COPY 100
#define IDC_CHAIN_ENTRY 256
#define IDC_CHAIN_OVERALL_BAR 257
#define IDC_CHAIN_FILE_BAR 258
#define IDC_CHAIN_OVERALL_PERCENT 259
#define IDC_CHAIN_FILE_PERCENT 260
#define IDC_CHAIN_CANCEL 261
