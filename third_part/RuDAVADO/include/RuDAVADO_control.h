/*
 * Control of the simulated camera network behind RuDAVADO, for tests and demos. The program
 * itself never includes this header.
 *
 * The network is built on first use from the scenario file named by the environment variable
 * RUDAVADO_SCENARIO, or from the built-in default (the same cameras as scenarios/default.json).
 * Cameras are numbered 0 .. RuDAVADO_CameraCount()-1 in scenario order; the numbers stay valid
 * until the next load. Names of operations are the public function names, e.g.
 * "KpLPRClient_GetDateTime". Durations are milliseconds at time scale 1; the library multiplies
 * them by the process time scale (KP_TIME_SCALE).
 *
 * All functions return 0 on success and -1 on failure unless stated otherwise, and may be called
 * from any thread.
 */
#ifndef RUDAVADO_CONTROL_H
#define RUDAVADO_CONTROL_H

#include "RuDAVADO.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Replaces the whole network. Open sessions and live videos of the old network end silently
 * (their handles become invalid); a running discovery starts a new round. On failure the old
 * network stays. The error text of the last failed load is in RuDAVADO_LastLoadError(). */
KPLPRC_API int RuDAVADO_LoadScenarioFile(const char* path);
KPLPRC_API int RuDAVADO_LoadScenarioText(const char* json_text);
KPLPRC_API int RuDAVADO_LoadDefaultScenario(void);
KPLPRC_API const char* RuDAVADO_LastLoadError(void);
/* The built-in default scenario as JSON text (static storage). */
KPLPRC_API const char* RuDAVADO_DefaultScenarioText(void);

KPLPRC_API int RuDAVADO_CameraCount(void);
/* Number of the camera that currently has address `ip`, or -1. */
KPLPRC_API int RuDAVADO_FindCamera(const char* ip);

/* Power: off drops every session (notify 1) and the camera stops answering; on boots it
 * (start-up takes the "boot" duration). */
KPLPRC_API int RuDAVADO_SetPower(int camera, int on);
/* Cable: like power, but the camera keeps running (its clock and state go on). */
KPLPRC_API int RuDAVADO_SetLinked(int camera, int linked);

/* The camera's next restart (reboot, restore, address change, power on) never ends when `on`
 * is 1: it hangs in start-up (state BOOTING) and answers nothing until it is powered off and on.
 * 0 removes it. */
KPLPRC_API int RuDAVADO_StayDownAfterRestart(int camera, int on);
/* The camera's next accepted upgrade loses its link for a moment when it reaches `percent` (0 to
 * 100): every session is dropped (notify 1), the upgrade fails, and the camera answers again at
 * once (dropped sessions log in again as after any return). A negative percent removes it. */
KPLPRC_API int RuDAVADO_DropLinkDuringUpgrade(int camera, int percent);
/* The camera's next accepted upgrade hangs when it reaches `percent` (0 to 99): it answers state
 * running with that percentage, and refuses restarts, until KpLPRClient_StopUpdate cancels it or
 * a power or link loss fails it. A negative percent removes it. */
KPLPRC_API int RuDAVADO_StallUpgrade(int camera, int percent);

/* Timing names and defaults (ms at scale 1):
 *   "call"             latency of every call on a session              2
 *   "login"            extra latency of KpLPRClient_Open                20
 *   "connect_timeout"  wait before an unanswered Open fails             3000
 *   "discovery_spread" reports of one search spread over this long      800
 *   "boot"             a restart: offline this long                     15000
 *   "upgrade"          writing a firmware package, 0 to 100 %           20000
 *   "frame"            live video frame interval                        40
 * A negative value restores the default. Unknown names fail. */
KPLPRC_API int RuDAVADO_SetTiming(const char* name, double milliseconds);
KPLPRC_API double RuDAVADO_GetTiming(const char* name);

/* The process time scale that multiplies every duration; read from KP_TIME_SCALE on first use
 * (default 1). Setting it affects waits that start afterwards. Fails unless scale > 0. */
KPLPRC_API int RuDAVADO_SetTimeScale(double scale);
KPLPRC_API double RuDAVADO_GetTimeScale(void);

/* The next `count` calls of `operation` (on `camera`, or on any camera when camera is -1) fail
 * with KPLPRC_ERR_DEVICE before doing anything. count 0 removes the fault. Every call on a
 * session or an address can be made to fail, and also KPLPRClient_StartFindDeviceEx/V2,
 * KPLPRClient_SetCommonNotifyCallBack (registering) and KpLPRClient_StopRealPlay; calls that
 * concern no camera only take faults given with camera -1. */
KPLPRC_API int RuDAVADO_FailNext(const char* operation, int camera, int count);
/* Removes every injected fault. */
KPLPRC_API void RuDAVADO_ClearFaults(void);

/* Camera states (RuDAVADO_CameraState.state). */
#define RUDAVADO_STATE_ONLINE 0
#define RUDAVADO_STATE_OFFLINE 1   /* powered off or unlinked */
#define RUDAVADO_STATE_BOOTING 2   /* restarting */
#define RUDAVADO_STATE_UPGRADING 3 /* writing a firmware package; still answers calls */

typedef struct RuDAVADO_CameraState {
    char name[64];
    char ip[16];
    char netmask[16];
    char gateway[16];
    char mac[32];
    char user[64];
    char password[64];
    char model[64];            /* model family */
    char firmware[32];         /* running firmware version, "3.2.1.15" */
    char pending_firmware[32]; /* written, runs after the next restart; "" if none */
    int port;
    int device_type;        /* KPLPRC_DEVICE_* */
    int extended_discovery; /* 1: answers with the extended report */
    int state;              /* RUDAVADO_STATE_* */
    unsigned int serial_high;
    unsigned int serial_low;
    int lens_code;
    int hardware_index;
    int max_sessions;
    int sessions;          /* sessions currently logged in */
    int boots;             /* restarts since the scenario was loaded */
    KPLPRC_DATETIME clock; /* camera clock now */
    int update_state;      /* KP_UPDATE_STATE_* of the last upgrade */
    int update_progress;
    int io_outputs[4];
    long long frames_drawn; /* live video frames of all plays, drawn or counted */
    int plays;              /* live videos running */
    long long logo_size;    /* bytes of the last accepted upload, -1 if none */
    long long background_size;
    long long css_size;
    int uploads;      /* accepted uploads */
    int open_handles; /* sessions not closed yet, logged in or dropped */
} RuDAVADO_CameraState;

KPLPRC_API int RuDAVADO_GetCameraState(int camera, RuDAVADO_CameraState* state);

/* A parameter's value as text; group and item names UTF-8. Returns -1 when there is no such
 * item or the buffer is too small. */
KPLPRC_API int RuDAVADO_GetParam(int camera, const char* group, const char* item, char* value,
                                 int value_size);
KPLPRC_API int RuDAVADO_SetParam(int camera, const char* group, const char* item, const char* value);

/* Frames drawn or counted by one play handle so far, -1 for an unknown handle. This and
 * RuDAVADO_PlayDraws also answer for the live videos of the ONVIF backend. */
KPLPRC_API long long RuDAVADO_PlayFrames(int play_handle);
/* 1 when the play draws into an X window, 0 when it only counts frames, -1 unknown handle. */
KPLPRC_API int RuDAVADO_PlayDraws(int play_handle);

#ifdef __cplusplus
}
#endif

#endif /* RUDAVADO_CONTROL_H */
