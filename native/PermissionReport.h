#pragma once

#include "base/Message.h"
#include "platform/Permissions.h"

namespace tarvine {

// The four-member report of which privacy permissions are granted; asks, never prompts.
Message permissionReport(platform::Permissions& permissions);

} // namespace tarvine
