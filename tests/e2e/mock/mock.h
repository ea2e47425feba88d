/* Ids of the stand-in installer's dialog; included by windres and by C++. */
#ifndef MOCK_H
#define MOCK_H
#define IDD_MOCK_DIRECTORY 100
#define IDC_MOCK_EDIT 257
#define IDC_MOCK_INSTALL 259
#define IDC_MOCK_CANCEL 260
#endif
