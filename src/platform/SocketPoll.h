#pragma once

#include <QtGlobal>

namespace platform {

// True when the connected socket `descriptor` has something to be read at once: bytes, or the
// end of the connection (a close or a reset). Never waits.
bool SocketHasInput(qintptr descriptor);

} // namespace platform
