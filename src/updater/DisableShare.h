// Every module the tool talks to is reached directly, never through a link
// sharing server: this turns sharing off before the module connects.
#pragma once

#include "common/aError.h"

namespace Quorvant::Wrenfield {
class Module;
}
class UpdaterDisplayInterface;

aErr _disableShare(Quorvant::Wrenfield::Module& module, UpdaterDisplayInterface& display);
