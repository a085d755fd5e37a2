// The seam between the C interface and what answers it. The simulated network answers by
// default; KpLPRClient_Setup may choose another backend (RUDAVADO_BACKEND), which then answers
// every call of the C interface until KpLPRClient_Cleanup. The control calls always act on the
// simulated network.
//
// Each method has the contract of the C function of the same name (RuDAVADO.h) and sets the
// calling thread's last error through fail()/succeed().
#pragma once

#include "RuDAVADO.h"

namespace rudavado {

class Backend {
public:
    virtual ~Backend() = default;

    virtual int setup() = 0;
    virtual int cleanup() = 0;

    virtual int startFindDeviceEx(KPLPRC_FIND_DEVICE_CALLBACK_EX callback, void* user_data) = 0;
    virtual int startFindDeviceV2(KPLPRC_FIND_DEVICE_CALLBACK_V2 callback, void* user_data) = 0;
    virtual int stopFindDevice() = 0;
    virtual int setCommonNotifyCallBack(KPLPRC_COMMON_NOTIFY_CALLBACK callback, void* user_data) = 0;

    virtual KPLPRC_HANDLE open(const char* ip, int port, const char* user, const char* password) = 0;
    virtual int close(KPLPRC_HANDLE handle) = 0;
    virtual int setLoginAccount(KPLPRC_HANDLE handle, const char* password) = 0;
    virtual int getDateTime(KPLPRC_HANDLE handle, KPLPRC_DATETIME* time) = 0;
    virtual int setDateTime(KPLPRC_HANDLE handle, const KPLPRC_DATETIME* time) = 0;
    virtual int rebootDevice(KPLPRC_HANDLE handle) = 0;
    virtual int restorePart(KPLPRC_HANDLE handle) = 0;
    virtual int restoreFull(KPLPRC_HANDLE handle) = 0;

    virtual int update(KPLPRC_HANDLE handle, const char* path) = 0;
    virtual int stopUpdate(KPLPRC_HANDLE handle) = 0;
    virtual int getUpdateState(KPLPRC_HANDLE handle) = 0;
    virtual int getUpdateProgress(KPLPRC_HANDLE handle) = 0;

    virtual int getConfig(KPLPRC_HANDLE handle, unsigned int command, int channel, void* buffer,
                          unsigned int buffer_size) = 0;
    virtual int paraExportV2(KPLPRC_HANDLE handle, const KP_PARAM_IMPORT_ABILITY_V2* ability,
                             const char* path) = 0;
    virtual int paraImportV2(KPLPRC_HANDLE handle, const char* path) = 0;
    virtual int faceUpload(KPLPRC_HANDLE handle, const char* path) = 0;

    virtual int startRealPlay(KPLPRC_HANDLE handle, void* window) = 0;
    virtual int stopRealPlay(int play_handle) = 0;

    virtual int updateNetworkParam(unsigned int serial_high, unsigned int serial_low, const char* ip,
                                   const char* gateway, const char* netmask) = 0;

    virtual int getHwInfoEx(const char* ip, int port, KPLPRC_HWINFO_EX* info) = 0;
    virtual int getHwInfo(KPLPRC_HANDLE handle, int* kind, char* mac, char* serial, int* lens_code,
                          unsigned char* block) = 0;
    virtual int getSerialNumber(KPLPRC_HANDLE handle, unsigned int* serial_high,
                                unsigned int* serial_low) = 0;
    virtual int getHwBoardVersion(KPLPRC_HANDLE handle, int board, unsigned char* version) = 0;
    virtual int getRemoteSoftWareVersion(KPLPRC_HANDLE handle, int* major, int* minor, int* revision,
                                         int* build) = 0;
    virtual int getSystemVersion(KPLPRC_HANDLE handle, char* version) = 0;
    virtual int getNetConfig(KPLPRC_HANDLE handle, KPLPRC_NET_CONFIG* config) = 0;
    virtual int setIoOutput(KPLPRC_HANDLE handle, int channel, int output, int level) = 0;

    // The control calls RuDAVADO_PlayFrames and RuDAVADO_PlayDraws, which tests use on either backend.
    virtual long long playFrames(int play_handle) = 0;
    virtual int playDraws(int play_handle) = 0;
};

// The backend chosen at the last KpLPRClient_Setup when it is not the simulated network, else
// null. Backends live until the process ends, so a pointer read here stays valid.
Backend* otherBackend();

// Reads RUDAVADO_BACKEND and sets the backend up: 0, or -1 with the last error set (an unknown
// name or one not built in is KPLPRC_ERR_NOT_SUPPORTED). The simulated network is not touched
// when another backend is chosen.
int setupBackend(bool& simulated);
// Cleans the chosen other backend up and returns to the simulated network.
int cleanupOtherBackend();

// The ONVIF backend, when built in (RUDAVADO_WITH_ONVIF).
Backend& onvifBackend();

}  // namespace rudavado
