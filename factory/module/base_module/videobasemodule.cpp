#include "videobasemodule.h"

#include "assert_return.h"

namespace factory {

bool videobasemodule::StartPlay(HWND window, std::string& message) {
    MODULE_GUARD_FALSE();
    if (play_handle_ != KPLPRC_FIALURE) {
        StopPlay(message);
    }
    play_handle_ = sdk_->SDK_StartRealPlay(window);
    if (play_handle_ != KPLPRC_FIALURE) {
        message = "视频播放成功";
        return true;
    }
    message = "视频播放失败";
    return false;
}

bool videobasemodule::StopPlay(std::string& message) {
    MODULE_GUARD_FALSE();
    if (play_handle_ == KPLPRC_FIALURE) {
        return true;
    }
    if (sdk_->SDK_StopRealPlay(play_handle_)) {
        play_handle_ = KPLPRC_FIALURE;
        message = "停止播放成功";
    }
    return true;
}

}  // namespace factory
