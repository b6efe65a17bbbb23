#include "SocketPoll.h"

#ifdef Q_OS_WIN
#  include <winsock2.h>
#else
#  include <poll.h>
#endif

namespace platform {

bool SocketHasInput(qintptr descriptor)
{
    if (descriptor < 0)
        return false;
#ifdef Q_OS_WIN
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(static_cast<SOCKET>(descriptor), &readable);
    timeval now = {};
    // The first argument is ignored by Winsock.
    return ::select(0, &readable, nullptr, nullptr, &now) > 0;
#else
    pollfd wait = { static_cast<int>(descriptor), POLLIN, 0 };
    return ::poll(&wait, 1, 0) > 0;
#endif
}

} // namespace platform
