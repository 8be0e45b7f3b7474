// The seam between the window's two buttons and the commands they run. The application
// plugs in the real commands; the window's tests plug in a recorder.
#pragma once

#include "command_surface.h"

namespace jiajiemi {

class Commands {
public:
    virtual ~Commands() = default;
    virtual void Encrypt(CommandSurface& surface) = 0;  // click on 加密
    virtual void Decrypt(CommandSurface& surface) = 0;  // click on 解密
};

}  // namespace jiajiemi
