// Live video of one camera into a native window; at most one play runs per module.
#pragma once

#include <string>

#include "basemodule.h"

namespace factory {

class videobasemodule : public basemodule {
public:
    bool StartPlay(HWND window, std::string& message);
    // True even when nothing plays or the library refuses to stop (then the handle is kept).
    bool StopPlay(std::string& message);

    int play_handle() const { return play_handle_; }

private:
    int play_handle_ = KPLPRC_FIALURE;
};

}  // namespace factory
