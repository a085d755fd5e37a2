// Placeholder bodies until the simulated network lands: every call fails.
#include "RuDAVADO.h"

extern "C" {
KPLPRC_API int KPLPRC_CALL KpLPRClient_Setup(void) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_Cleanup(void) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_GetLastError(void) { return -1; }
KPLPRC_API int KPLPRC_CALL KPLPRClient_StartFindDeviceEx(KPLPRC_FIND_DEVICE_CALLBACK_EX, void*) { return -1; }
KPLPRC_API int KPLPRC_CALL KPLPRClient_StartFindDeviceV2(KPLPRC_FIND_DEVICE_CALLBACK_V2, void*) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_StopFindDevice(void) { return -1; }
KPLPRC_API int KPLPRC_CALL KPLPRClient_SetCommonNotifyCallBack(KPLPRC_COMMON_NOTIFY_CALLBACK, void*) { return -1; }
KPLPRC_API KPLPRC_HANDLE KPLPRC_CALL KpLPRClient_Open(const char*, int, const char*, const char*) { return nullptr; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_Close(KPLPRC_HANDLE) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_SetLoginAccount(KPLPRC_HANDLE, const char*) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_GetDateTime(KPLPRC_HANDLE, KPLPRC_DATETIME*) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_SetDateTime(KPLPRC_HANDLE, const KPLPRC_DATETIME*) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_RebootDevice(KPLPRC_HANDLE) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_RestorePart(KPLPRC_HANDLE) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_RestoreFull(KPLPRC_HANDLE) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_Update(KPLPRC_HANDLE, const char*) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_StopUpdate(KPLPRC_HANDLE) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_GetUpdateState(KPLPRC_HANDLE) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_GetUpdateProgress(KPLPRC_HANDLE) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_GetConfig(KPLPRC_HANDLE, unsigned int, int, void*, unsigned int) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_ParaExportV2(KPLPRC_HANDLE, const KP_PARAM_IMPORT_ABILITY_V2*, const char*) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_ParaImportV2(KPLPRC_HANDLE, const char*) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_FaceUploadLogo(KPLPRC_HANDLE, const char*) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_FaceUploadBg(KPLPRC_HANDLE, const char*) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_FaceUploadCss(KPLPRC_HANDLE, const char*) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_StartRealPlay(KPLPRC_HANDLE, void*) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_StopRealPlay(int) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_UpdateNetworkParam(unsigned int, unsigned int, const char*, const char*, const char*) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_GetHwInfoEx(const char*, int, KPLPRC_HWINFO_EX*) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_GetHwInfo(KPLPRC_HANDLE, int*, char*, char*, int*, unsigned char*) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_GetSerialNumber(KPLPRC_HANDLE, unsigned int*, unsigned int*) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_GetHwBoardVersion(KPLPRC_HANDLE, int, unsigned char*) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_GetRemoteSoftWareVersion(KPLPRC_HANDLE, int*, int*, int*, int*) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_GetSystemVersion(KPLPRC_HANDLE, char*) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_GetNetConfig(KPLPRC_HANDLE, KPLPRC_NET_CONFIG*) { return -1; }
KPLPRC_API int KPLPRC_CALL KpLPRClient_SetIoOutput(KPLPRC_HANDLE, int, int, int) { return -1; }
}
