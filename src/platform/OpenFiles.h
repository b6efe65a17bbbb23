#pragma once

#include <QtGlobal>

namespace platform {

// The open-file limit of this process against the descriptors a run needs. Where the soft limit
// is lower, it is raised as far as needed, and never beyond the hard limit. Windows sets no such
// limit on sockets and files: there it is always enough.
struct OpenFileLimit
{
    qint64 before = -1; // the soft limit found; -1: none
    qint64 now = -1; // the soft limit after raising it
    qint64 hard = -1; // -1: none
    bool enough = true;
};
OpenFileLimit EnsureOpenFiles(qint64 needed);

} // namespace platform
