/* Resource ids of the installer; included by windres and by C++. */
#ifndef QUILLET_RESOURCE_H
#define QUILLET_RESOURCE_H

/* User-interface strings, one table per language */
#define IDS_CLASS_NAME 1
#define IDS_DIRECTORY_PROMPT 2
#define IDS_SIZE_FORMAT_LD 3
#define IDS_REGISTER_QUESTION 4
#define IDS_REPORT_DONE_S 5
#define IDS_REPORT_FAILED_S 6
#define IDS_REPORT_ABANDONED_S 7
#define IDS_SWITCHES 8
#define IDS_ALREADY_RUNNING 9
#define IDS_INSTALLER_DAMAGED_S 10

/* The uninstaller's texts */
#define IDS_UNINSTALL_CAPTION 32
#define IDS_UNINSTALL_QUESTION_S 33
#define IDS_UNINSTALL_DONE 34
#define IDS_UNINSTALL_KEPT_S 35
#define IDS_UNINSTALL_RESTART 36
#define IDS_UNINSTALL_FAILED_S 37
#define IDS_UNINSTALL_NOTHING_S 38
#define IDS_UNINSTALL_REFUSED 39
#define IDS_UNINSTALL_SWITCHES 40
/* The script's vocabulary, language-neutral */
#define IDS_FILES_SECTION 16
#define IDS_GROUP_SECTION 17
#define IDS_INSTALL_SECTION 18
#define IDS_REGISTRATION_SECTION 19
#define IDS_APPLICATION_KEY 20
#define IDS_BITMAP_KEY 21
#define IDS_CAPTION_KEY 22
#define IDS_DIRECTORY_KEY 23
#define IDS_SUFFIXES_KEY 24

/* Error formats, one string argument each */
#define IDS_CANNOT_OPEN_S 2044
#define IDS_CANNOT_READ_S 2045
#define IDS_CANNOT_CREATE_S 2050
#define IDS_CANNOT_WRITE_S 2051
#define IDS_NO_MEMORY_S 2052
#define IDS_NO_LOCK_S 2053
#define IDS_NO_BITMAP_S 2054
#define IDS_NO_SECTION_S 2055

/* Controls that the installer never addresses */
#define IDC_STATIC_ITEM 65535

/* Directory dialog */
#define IDC_DIRECTORY_PROMPT 256
#define IDC_DIRECTORY_EDIT 257
#define IDC_DIRECTORY_SIZE 258
#define IDC_DIRECTORY_INSTALL 259
#define IDC_DIRECTORY_CANCEL 260

/* Copy dialog; 256 and 260 double as the copy engine's notifications */
#define IDC_COPY_ENTRY 256
#define IDC_COPY_OVERALL_BAR 257
#define IDC_COPY_FILE_BAR 258
#define IDC_COPY_OVERALL_PERCENT 259
#define IDC_COPY_FILE_PERCENT 260
#define IDC_COPY_CANCEL 261

/* File-types dialog; its buttons carry the values of IDYES and IDNO */
#define IDC_REGISTRATION_SUFFIXES 257
#define IDC_REGISTRATION_YES 6
#define IDC_REGISTRATION_NO 7

#endif
