#pragma once

#include <QtGlobal>

namespace platform {

// Makes the next close of the connected socket `descriptor` a reset: the system throws away what
// it has not sent yet and the peer gets RST, so not one more byte reaches it. A plain close would
// still deliver everything queued, then FIN. False if the system refused.
bool SetResetOnClose(qintptr descriptor);

} // namespace platform
