/* tambrel.dll: silent driver installation for the Norza USB audio interface.
 *
 * All three functions use the stdcall convention and take ANSI (active code
 * page) texts. The boolean results are ONE byte wide: 1 for true, 0 for
 * false, returned in AL; the upper bytes of EAX/RAX are undefined, so a
 * caller that reads a full register must mask it with 0xFF.
 *
 * Link with the import library, or LoadLibraryA("tambrel.dll") and resolve
 * by name or by ordinal (CloseZDLWindow 1, InstallDev 2,
 * GetDevicePresentCount 3). */
#ifndef TAMBREL_H
#define TAMBREL_H

#ifdef __cplusplus
extern "C" {
#endif

#define TAMBREL_CALL __stdcall

/* 1 true, 0 false; one byte. */
typedef unsigned char TAMBREL_BOOL;

/* Always 1. Kept for installation programs that call it after InstallDev. */
TAMBREL_BOOL TAMBREL_CALL CloseZDLWindow(void);

/* Copies pszInfDir\pszInfName into the driver store, updates the driver of
 * every present device with hardware ID pszHardwareId, and marks media-class
 * devices with that hardware ID to be reinstalled when next plugged in.
 * While it runs, any window of the calling process that is activated has its
 * child control nButtonId clicked (for answering confirmation dialogs the
 * platform may show). nClickCount is ignored.
 * Returns 1 when the driver update succeeded; 0 when it failed, when the
 * update function is unavailable, or when a text is NULL or longer than 199
 * characters (then nothing is done). After 0 the thread's last error
 * (GetLastError) says why: ERROR_INVALID_PARAMETER for refused texts, else
 * the error of the step that failed. After 1 it is 0, or
 * ERROR_SUCCESS_REBOOT_REQUIRED (3010) when Windows needs a restart to finish
 * the update: the installation program sets its reboot flag (Windows does
 * not ask the user itself).
 * Updating drivers needs an elevated (administrator) process, and InstallDev
 * never asks for consent itself: the installation program must ask for
 * administrator rights (NSIS: RequestExecutionLevel admin; Inno Setup:
 * PrivilegesRequired=admin). Without them it returns 0 with
 * ERROR_ACCESS_DENIED (5), or whichever refusal the platform gave.
 * On 64-bit Windows a 32-bit caller's installation runs in a 64-bit helper
 * carried inside the DLL; the calling thread's messages are dispatched
 * while it waits. ERROR_INVALID_IMAGE_HASH (577) there: the helper's file
 * was changed before it could start, so it was not started. */
TAMBREL_BOOL TAMBREL_CALL InstallDev(int nButtonId, int nClickCount, const char* pszInfDir,
                                     const char* pszInfName, const char* pszHardwareId);

/* The number of present devices (all classes) whose first hardware ID
 * contains pszIdText (case significant; an empty text is found in every
 * hardware ID). 0 for NULL. The last error is 0, or why the devices could
 * not be listed (ERROR_INVALID_PARAMETER for NULL). */
int TAMBREL_CALL GetDevicePresentCount(const char* pszIdText);

typedef TAMBREL_BOOL(TAMBREL_CALL* TambrelCloseZDLWindowFn)(void);
typedef TAMBREL_BOOL(TAMBREL_CALL* TambrelInstallDevFn)(int, int, const char*, const char*, const char*);
typedef int(TAMBREL_CALL* TambrelGetDevicePresentCountFn)(const char*);

#ifdef __cplusplus
}
#endif

#endif /* TAMBREL_H */
