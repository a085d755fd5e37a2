/*
 * RuDAVADO: client library for the maker's plate-recognition and face-recognition cameras.
 *
 * Use:
 *   KpLPRClient_Setup() once per process before any other call, KpLPRClient_Cleanup() at the end.
 *   KpLPRClient_Open() logs in and returns a session handle (NULL on failure); every per-camera
 *   call takes that handle; KpLPRClient_Close() logs out and frees it.
 *
 * Results: functions returning int give 0 on success and -1 on failure unless their comment says
 * otherwise; KpLPRClient_GetLastError() then tells why (KPLPRC_ERR_*), per calling thread.
 * Texts are NUL-terminated. File paths are in the GB2312 code page (ASCII paths pass unchanged);
 * every other text crossing this interface is UTF-8, except the parameter names of
 * KP_PARAM_IMPORT_ABILITY_V2, which are GB2312.
 *
 * Threads: every function may be called from any thread. Discovery reports and the common notify
 * callback run on the library's own thread; a callback must not block for long. After
 * KpLPRClient_StopFindDevice(), KPLPRClient_SetCommonNotifyCallBack(NULL, ...) or
 * KpLPRClient_Cleanup() returns, the callbacks it removed are not called any more (called from
 * inside a callback, the removal holds as soon as that callback returns).
 *
 * Sessions: a session whose camera reboots, loses power or changes its address is dropped: the
 * common notify callback reports it (KP_LPRC_NOTIFY_*) and calls on the handle fail with
 * KPLPRC_ERR_SESSION_LOST. When a camera answers again at the session's address and port, the
 * library logs the session in again by itself and reports KP_LPRC_NOTIFY_ONLINE (3); the handle
 * stays the same. Handles are never reused within a process.
 */
#ifndef RUDAVADO_H
#define RUDAVADO_H

#include <stddef.h>

#if defined(_WIN32)
#if defined(RUDAVADO_BUILDING)
#define KPLPRC_API __declspec(dllexport)
#else
#define KPLPRC_API __declspec(dllimport)
#endif
#define KPLPRC_CALL __stdcall
#else
#define KPLPRC_API __attribute__((visibility("default")))
#define KPLPRC_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Handles, kinds, errors ------------------------------------------------------------- */

/* A logged-in session; NULL is never a valid session. */
typedef void* KPLPRC_HANDLE;

/* Play handle of live video; KPLPRC_FIALURE when none could be started. */
#define KPLPRC_FIALURE (-1)

/* Device kinds (KPLPRC_HWINFO_EX.device_type, KpLPRClient_GetHwInfo's kind). */
#define KPLPRC_DEVICE_PLATE 0
#define KPLPRC_DEVICE_FACE 1

/* KpLPRClient_GetLastError() codes. */
#define KPLPRC_ERR_NONE 0
#define KPLPRC_ERR_NOT_SETUP 1      /* KpLPRClient_Setup not called (or cleaned up) */
#define KPLPRC_ERR_PARAMETER 2      /* null pointer, bad number, malformed text */
#define KPLPRC_ERR_INVALID_HANDLE 3 /* unknown or closed session or play handle */
#define KPLPRC_ERR_TIMEOUT 4        /* nobody answered at that address */
#define KPLPRC_ERR_REFUSED 5        /* the address answers but not on that port */
#define KPLPRC_ERR_AUTH 6           /* wrong user name or password */
#define KPLPRC_ERR_TOO_MANY_SESSIONS 7
#define KPLPRC_ERR_SESSION_LOST 8    /* the camera dropped the session; wait for notify 3 */
#define KPLPRC_ERR_BUSY 9            /* the camera is upgrading or restarting */
#define KPLPRC_ERR_NOT_SUPPORTED 10  /* the camera's kind or model has no such function */
#define KPLPRC_ERR_FILE 11           /* file missing, unreadable or not writable */
#define KPLPRC_ERR_PACKAGE 12        /* firmware package damaged or for another model family */
#define KPLPRC_ERR_FORMAT 13         /* parameter file or upload content refused */
#define KPLPRC_ERR_ADDRESS_IN_USE 14 /* another camera already has that address */
#define KPLPRC_ERR_DEVICE 15         /* the camera reported an internal error */
#define KPLPRC_ERR_NOT_FOUND 16      /* no camera with that serial number answered */

/* ---- Records ------------------------------------------------------------------------------ */

/* Camera clock, local time. */
typedef struct KPLPRC_DATETIME {
    int year;   /* years since 1900 */
    int month;  /* 0-11 */
    int day;    /* 1-31 */
    int hour;   /* 0-23 */
    int minute; /* 0-59 */
    int second; /* 0-59 */
} KPLPRC_DATETIME;

/* KpLPRClient_GetNetConfig. The three address texts come first. */
typedef struct KPLPRC_NET_CONFIG {
    char ip[16];
    char netmask[16];
    char gateway[16];
    char dns[16];
    char mac[32]; /* "00:1A:2B:3C:4D:5E" */
    int port;     /* service (web and SDK) port */
    int dhcp;     /* always 0: the cameras use fixed addresses */
    char reserved[56];
} KPLPRC_NET_CONFIG;

/* KpLPRClient_GetHwInfo: sizes of its buffers and the meaning of the 16-byte block. */
#define KPLPRC_HWINFO_TEXT_LEN 32
#define KPLPRC_HWINFO_BLOCK_LEN 16
#define KPLPRC_HWBLOCK_BOARD_MAJOR 0    /* byte: main board revision, major */
#define KPLPRC_HWBLOCK_BOARD_MINOR 1    /* byte: main board revision, minor */
#define KPLPRC_HWBLOCK_SENSOR 2         /* byte: sensor code */
#define KPLPRC_HWBLOCK_HARDWARE_INDEX 3 /* byte: model family index, 0-14 */
#define KPLPRC_HARDWARE_INDEX_MAX 14

/* KpLPRClient_GetHwInfoEx, answered without login. */
#define KPLPRC_HWINFO_EX_SIZE 320
typedef struct KPLPRC_HWINFO_EX {
    char ip[16];
    char netmask[16];
    char gateway[16];
    char mac[32];
    char serial[32];    /* "%08x-%08x" of the serial words, high first */
    char model[64];     /* model family name */
    char firmware[32];  /* firmware version text */
    char boot_time[32]; /* "YYYY-MM-DD hh:mm:ss" camera clock at start-up */
    int port;
    int device_type; /* KPLPRC_DEVICE_* */
    int lens_code;
    int hardware_index; /* 0-14 */
    unsigned int serial_high;
    unsigned int serial_low;
    char reserved[56];
} KPLPRC_HWINFO_EX;

/* KpLPRClient_GetSystemVersion and KpLPRClient_GetHwBoardVersion buffer sizes. */
#define KPLPRC_SYSTEM_VERSION_LEN 32
#define KPLPRC_BOARD_VERSION_LEN 8

/* Parameter-import ability (KpLPRClient_GetConfig with KP_GET_IMPORT_PARAM_ABILITY_EX): the
 * camera's parameter groups and items, each item with a selected flag that decides whether
 * KpLPRClient_ParaExportV2 writes it. Names are GB2312. 32-bit little-endian integers. */
#define KP_GET_IMPORT_PARAM_ABILITY_EX 3024
#define KP_PARAM_GROUP_MAX 64
#define KP_PARAM_ITEM_MAX 64
#define KP_PARAM_NAME_LEN 128

typedef struct KP_PARAM_IMPORT_ITEM {
    int selected;   /* non-zero: the item goes into the export */
    int item_id;    /* the camera's number for the item */
    int value_type; /* 0 integer, 1 text, 2 switch (0/1) */
    unsigned char reserved[60];
    char name[KP_PARAM_NAME_LEN];
} KP_PARAM_IMPORT_ITEM;

typedef struct KP_PARAM_IMPORT_GROUP {
    KP_PARAM_IMPORT_ITEM items[KP_PARAM_ITEM_MAX];
    int item_count;
    char name[KP_PARAM_NAME_LEN];
} KP_PARAM_IMPORT_GROUP;

typedef struct KP_PARAM_IMPORT_ABILITY_V2 {
    KP_PARAM_IMPORT_GROUP groups[KP_PARAM_GROUP_MAX];
    int group_count;
    int device_type;    /* KPLPRC_DEVICE_* of the camera that filled it */
    int hardware_index; /* its model family index */
    unsigned char reserved[56];
} KP_PARAM_IMPORT_ABILITY_V2;

#if defined(__cplusplus)
#define KPLPRC_STATIC_ASSERT(c, m) static_assert(c, m)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define KPLPRC_STATIC_ASSERT(c, m) _Static_assert(c, m)
#else /* older C: a negative array size stops the build */
#define KPLPRC_STATIC_ASSERT_JOIN(a, b) a##b
#define KPLPRC_STATIC_ASSERT_LINE(c, l) \
    typedef char KPLPRC_STATIC_ASSERT_JOIN(kplprc_static_assert_, l)[(c) ? 1 : -1]
#define KPLPRC_STATIC_ASSERT(c, m) KPLPRC_STATIC_ASSERT_LINE(c, __LINE__)
#endif
KPLPRC_STATIC_ASSERT(sizeof(KPLPRC_DATETIME) == 24, "date-time record is six ints");
KPLPRC_STATIC_ASSERT(sizeof(KPLPRC_HWINFO_EX) == KPLPRC_HWINFO_EX_SIZE, "hwinfo-ex size");
KPLPRC_STATIC_ASSERT(offsetof(KPLPRC_NET_CONFIG, netmask) == 16, "netmask is the 2nd text");
KPLPRC_STATIC_ASSERT(offsetof(KPLPRC_NET_CONFIG, gateway) == 32, "gateway is the 3rd text");
KPLPRC_STATIC_ASSERT(sizeof(KP_PARAM_IMPORT_ITEM) == 200, "item entry size");
KPLPRC_STATIC_ASSERT(offsetof(KP_PARAM_IMPORT_ITEM, name) == 72, "item name offset");
KPLPRC_STATIC_ASSERT(sizeof(KP_PARAM_IMPORT_GROUP) == 12932, "group entry size");
KPLPRC_STATIC_ASSERT(offsetof(KP_PARAM_IMPORT_GROUP, item_count) == 12800, "item count offset");
KPLPRC_STATIC_ASSERT(offsetof(KP_PARAM_IMPORT_GROUP, name) == 12804, "group name offset");
KPLPRC_STATIC_ASSERT(offsetof(KP_PARAM_IMPORT_ABILITY_V2, group_count) == 827648, "group count offset");
KPLPRC_STATIC_ASSERT(sizeof(KP_PARAM_IMPORT_ABILITY_V2) == 827716, "ability record size");

/* ---- Callbacks ---------------------------------------------------------------------------- */

/* Basic discovery report: name, IP, port, second port word, serial low, serial high, netmask,
 * gateway, user pointer. */
typedef void(KPLPRC_CALL* KPLPRC_FIND_DEVICE_CALLBACK_EX)(const char* device_name, const char* ip,
                                                          unsigned short port, unsigned short port2,
                                                          unsigned int serial_low, unsigned int serial_high,
                                                          const char* netmask, const char* gateway,
                                                          void* user_data);

/* Extended discovery report: the basic fields, then find value, firmware version, lens code,
 * MAC address ("00:1A:2B:3C:4D:5E") and start-up time ("YYYY-MM-DD hh:mm:ss"). */
typedef void(KPLPRC_CALL* KPLPRC_FIND_DEVICE_CALLBACK_V2)(const char* device_name, const char* ip,
                                                          unsigned short port, unsigned short port2,
                                                          unsigned int serial_low, unsigned int serial_high,
                                                          const char* netmask, const char* gateway,
                                                          int find_value, const char* firmware_version,
                                                          int lens_code, const char* mac,
                                                          const char* boot_time, void* user_data);

/* Session events of the common notify callback. Only 3 means the session works. */
typedef enum KP_LPRC_COMMON_NOTIFY {
    KP_LPRC_NOTIFY_OFFLINE = 1,     /* session dropped: power loss, cable, address change */
    KP_LPRC_NOTIFY_REBOOT = 2,      /* session dropped: the camera restarts (reboot, upgrade,
                                       parameter import, restore) */
    KP_LPRC_NOTIFY_ONLINE = 3,      /* session logged in again, calls work */
    KP_LPRC_NOTIFY_LOGIN_FAILED = 4 /* the camera is back but refused the stored login (password
                                       changed, too many sessions); the session stays dropped */
} KP_LPRC_COMMON_NOTIFY;

/* Session event: handle, user pointer, event, reserved (always 0). */
typedef void(KPLPRC_CALL* KPLPRC_COMMON_NOTIFY_CALLBACK)(KPLPRC_HANDLE handle, void* user_data,
                                                         KP_LPRC_COMMON_NOTIFY notify, int reserved);

/* ---- Library ------------------------------------------------------------------------------ */

KPLPRC_API int KPLPRC_CALL KpLPRClient_Setup(void);
/* Stops discovery and live video, closes every session, removes the callbacks. */
KPLPRC_API int KPLPRC_CALL KpLPRClient_Cleanup(void);
/* Why the calling thread's last failed call failed (KPLPRC_ERR_*). */
KPLPRC_API int KPLPRC_CALL KpLPRClient_GetLastError(void);

/* ---- Discovery ----------------------------------------------------------------------------- */

/* Starts a search (or restarts it when this kind is already running) and keeps listening until
 * KpLPRClient_StopFindDevice: each camera that answers is reported once per start, and again when
 * it comes back online while the search runs. Cameras that support the extended report use the
 * V2 callback when one is registered, else the basic one; older models answer only the basic
 * search. Reports of one search are spread over a short while, as replies on a network are. */
KPLPRC_API int KPLPRC_CALL KPLPRClient_StartFindDeviceEx(KPLPRC_FIND_DEVICE_CALLBACK_EX callback,
                                                         void* user_data);
KPLPRC_API int KPLPRC_CALL KPLPRClient_StartFindDeviceV2(KPLPRC_FIND_DEVICE_CALLBACK_V2 callback,
                                                         void* user_data);
/* Ends both searches; no discovery callback runs after it returns. */
KPLPRC_API int KPLPRC_CALL KpLPRClient_StopFindDevice(void);

/* Registers (or with NULL removes) the one common notify callback. */
KPLPRC_API int KPLPRC_CALL KPLPRClient_SetCommonNotifyCallBack(KPLPRC_COMMON_NOTIFY_CALLBACK callback,
                                                               void* user_data);

/* ---- Sessions ------------------------------------------------------------------------------ */

/* Logs in; blocks until the camera answers or the connect time-out ends. NULL on failure. */
KPLPRC_API KPLPRC_HANDLE KPLPRC_CALL KpLPRClient_Open(const char* ip, int port, const char* user,
                                                      const char* password);
/* Logs out and frees the handle, also when the session was dropped. */
KPLPRC_API int KPLPRC_CALL KpLPRClient_Close(KPLPRC_HANDLE handle);

/* Changes the password of the session's user; empty passwords are refused. The session stays
 * logged in; other sessions keep working until they log in again. */
KPLPRC_API int KPLPRC_CALL KpLPRClient_SetLoginAccount(KPLPRC_HANDLE handle, const char* password);

KPLPRC_API int KPLPRC_CALL KpLPRClient_GetDateTime(KPLPRC_HANDLE handle, KPLPRC_DATETIME* time);
/* Refuses out-of-range fields (years 70-137, i.e. 1970-2037). */
KPLPRC_API int KPLPRC_CALL KpLPRClient_SetDateTime(KPLPRC_HANDLE handle, const KPLPRC_DATETIME* time);

/* The camera restarts: every session to it is dropped (notify 2) and logged in again when it is
 * back (notify 3). */
KPLPRC_API int KPLPRC_CALL KpLPRClient_RebootDevice(KPLPRC_HANDLE handle);
/* Default parameters, keeping the network settings and the password; the camera restarts. */
KPLPRC_API int KPLPRC_CALL KpLPRClient_RestorePart(KPLPRC_HANDLE handle);
/* Default parameters, network settings (address back to the camera's factory address) and
 * password; the camera restarts, so sessions to the old address stay dropped unless it was
 * already the factory address. */
KPLPRC_API int KPLPRC_CALL KpLPRClient_RestoreFull(KPLPRC_HANDLE handle);

/* ---- Firmware ------------------------------------------------------------------------------ */

/* Update states (KpLPRClient_GetUpdateState). */
#define KP_UPDATE_STATE_IDLE 0 /* no upgrade since the session was opened */
#define KP_UPDATE_STATE_DONE 1 /* written; the new version runs after the next restart */
#define KP_UPDATE_STATE_RUNNING 2
#define KP_UPDATE_STATE_CANCELLED 3    /* stopped by KpLPRClient_StopUpdate */
#define KP_UPDATE_STATE_SAME_VERSION 4 /* done: the camera already runs that version */
#define KP_UPDATE_STATE_FAILED (-1)    /* damaged package, or the session dropped */

/* Hands a firmware package to the camera. `path` may hold several package paths joined by '|';
 * the one made for the camera's model family is used. 0 = accepted and started; refused (-1)
 * when no file is readable, none is for this family, or the camera is already upgrading. */
KPLPRC_API int KPLPRC_CALL KpLPRClient_Update(KPLPRC_HANDLE handle, const char* path);
KPLPRC_API int KPLPRC_CALL KpLPRClient_StopUpdate(KPLPRC_HANDLE handle);
/* Returns a KP_UPDATE_STATE_* value; KP_UPDATE_STATE_FAILED also for an invalid handle. */
KPLPRC_API int KPLPRC_CALL KpLPRClient_GetUpdateState(KPLPRC_HANDLE handle);
/* Returns 0-100, or -1 for an invalid or dropped session. */
KPLPRC_API int KPLPRC_CALL KpLPRClient_GetUpdateProgress(KPLPRC_HANDLE handle);

/* ---- Parameters ---------------------------------------------------------------------------- */

/* command KP_GET_IMPORT_PARAM_ABILITY_EX, channel 0, buffer of sizeof(KP_PARAM_IMPORT_ABILITY_V2)
 * (827716 bytes): fills the record with every group and item, all selected. */
KPLPRC_API int KPLPRC_CALL KpLPRClient_GetConfig(KPLPRC_HANDLE handle, unsigned int command, int channel,
                                                 void* buffer, unsigned int buffer_size);
/* Writes the selected items (matched by group and item name) to a text .cfg file. */
KPLPRC_API int KPLPRC_CALL KpLPRClient_ParaExportV2(KPLPRC_HANDLE handle,
                                                    const KP_PARAM_IMPORT_ABILITY_V2* ability,
                                                    const char* path);
/* Applies a .cfg file written by KpLPRClient_ParaExportV2 for a camera of the same model
 * family; refuses malformed files and files of another family without changing anything. */
KPLPRC_API int KPLPRC_CALL KpLPRClient_ParaImportV2(KPLPRC_HANDLE handle, const char* path);

/* ---- Face cameras -------------------------------------------------------------------------- */

/* Logo and background: PNG or JPEG (checked by signature), at most 2 MiB. Style sheet: text
 * (no NUL bytes, valid UTF-8), at most 256 KiB. Plate cameras refuse them. */
KPLPRC_API int KPLPRC_CALL KpLPRClient_FaceUploadLogo(KPLPRC_HANDLE handle, const char* path);
KPLPRC_API int KPLPRC_CALL KpLPRClient_FaceUploadBg(KPLPRC_HANDLE handle, const char* path);
KPLPRC_API int KPLPRC_CALL KpLPRClient_FaceUploadCss(KPLPRC_HANDLE handle, const char* path);

/* ---- Live video ---------------------------------------------------------------------------- */

/* Starts live video drawn into the native window `window` (on X11: the window's XID). Returns a
 * play handle (>= 0), or KPLPRC_FIALURE (-1). */
KPLPRC_API int KPLPRC_CALL KpLPRClient_StartRealPlay(KPLPRC_HANDLE handle, void* window);
/* Stops drawing (the drawing thread has ended when it returns) and frees the play handle. */
KPLPRC_API int KPLPRC_CALL KpLPRClient_StopRealPlay(int play_handle);

/* ---- Network ------------------------------------------------------------------------------- */

/* Sets the address of the camera whose serial words these are, without login. Refused for a
 * malformed address, mask or gateway, or an address another camera already has. The camera's
 * sessions are dropped (notify 1). */
KPLPRC_API int KPLPRC_CALL KpLPRClient_UpdateNetworkParam(unsigned int serial_high, unsigned int serial_low,
                                                          const char* ip, const char* gateway,
                                                          const char* netmask);

/* ---- Information --------------------------------------------------------------------------- */

/* Asks the camera at ip:port for its hardware description; no login needed. */
KPLPRC_API int KPLPRC_CALL KpLPRClient_GetHwInfoEx(const char* ip, int port, KPLPRC_HWINFO_EX* info);
/* kind: KPLPRC_DEVICE_*; mac and serial: KPLPRC_HWINFO_TEXT_LEN bytes each (MAC text, serial
 * text "%08x-%08x"); lens_code; block: KPLPRC_HWINFO_BLOCK_LEN bytes (KPLPRC_HWBLOCK_*).
 * Any output pointer may be NULL. */
KPLPRC_API int KPLPRC_CALL KpLPRClient_GetHwInfo(KPLPRC_HANDLE handle, int* kind, char* mac, char* serial,
                                                 int* lens_code, unsigned char* block);
KPLPRC_API int KPLPRC_CALL KpLPRClient_GetSerialNumber(KPLPRC_HANDLE handle, unsigned int* serial_high,
                                                       unsigned int* serial_low);
/* board: 0 main board, 1 sensor board; version: KPLPRC_BOARD_VERSION_LEN bytes, NUL-padded
 * text such as "H2.1". */
KPLPRC_API int KPLPRC_CALL KpLPRClient_GetHwBoardVersion(KPLPRC_HANDLE handle, int board,
                                                         unsigned char* version);
/* Firmware version as four numbers, e.g. 3.2.1.15. */
KPLPRC_API int KPLPRC_CALL KpLPRClient_GetRemoteSoftWareVersion(KPLPRC_HANDLE handle, int* major, int* minor,
                                                                int* revision, int* build);
/* Firmware version text, KPLPRC_SYSTEM_VERSION_LEN bytes, e.g. "3.2.1.15" (the same text as the
 * extended discovery report's firmware version). */
KPLPRC_API int KPLPRC_CALL KpLPRClient_GetSystemVersion(KPLPRC_HANDLE handle, char* version);
KPLPRC_API int KPLPRC_CALL KpLPRClient_GetNetConfig(KPLPRC_HANDLE handle, KPLPRC_NET_CONFIG* config);

/* Sets a switching output of the camera (barrier gate, light): channel 0, output 0-3, level 0 or
 * 1. */
KPLPRC_API int KPLPRC_CALL KpLPRClient_SetIoOutput(KPLPRC_HANDLE handle, int channel, int output, int level);

#ifdef __cplusplus
}
#endif

#endif /* RUDAVADO_H */
