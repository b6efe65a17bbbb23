#include "OpenFiles.h"

#ifndef Q_OS_WIN
#  include <sys/resource.h>
#endif

namespace platform {

OpenFileLimit EnsureOpenFiles(qint64 needed)
{
    OpenFileLimit limit;
#ifndef Q_OS_WIN
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0)
        return limit; // nothing known: the run finds out
    const auto figure = [](rlim_t value) {
        return value == RLIM_INFINITY ? qint64(-1) : static_cast<qint64>(value);
    };
    limit.before = limit.now = figure(files.rlim_cur);
    limit.hard = figure(files.rlim_max);
    if (files.rlim_cur == RLIM_INFINITY || static_cast<qint64>(files.rlim_cur) >= needed)
        return limit;
    const rlim_t wanted = static_cast<rlim_t>(needed);
    const rlim_t raised = files.rlim_max == RLIM_INFINITY ? wanted : qMin(wanted, files.rlim_max);
    if (raised > files.rlim_cur) {
        files.rlim_cur = raised;
        if (::setrlimit(RLIMIT_NOFILE, &files) == 0)
            limit.now = static_cast<qint64>(raised);
    }
    limit.enough = limit.now >= needed;
#else
    Q_UNUSED(needed);
#endif
    return limit;
}

} // namespace platform
