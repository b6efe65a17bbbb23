#include "SocketReset.h"

#ifdef Q_OS_WIN
#  include <winsock2.h>
#else
#  include <sys/socket.h>
#endif

namespace platform {

bool SetResetOnClose(qintptr descriptor)
{
    if (descriptor < 0)
        return false;
    // Lingering on, for no time at all: the close discards the send queue and resets.
    struct linger option = {};
    option.l_onoff = 1;
    option.l_linger = 0;
#ifdef Q_OS_WIN
    return ::setsockopt(static_cast<SOCKET>(descriptor), SOL_SOCKET, SO_LINGER,
                        reinterpret_cast<const char *>(&option), sizeof option)
            == 0;
#else
    return ::setsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_LINGER, &option, sizeof option)
            == 0;
#endif
}

} // namespace platform
