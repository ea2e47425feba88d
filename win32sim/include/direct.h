/* Host build's <direct.h>: the current drive's number (1 for A, 2 for B, ...; 0 when none). */
#ifndef WIN32SIM_DIRECT_H
#define WIN32SIM_DIRECT_H
#ifdef __cplusplus
extern "C" {
#endif
int _getdrive(void);
#ifdef __cplusplus
}
#endif
#endif
