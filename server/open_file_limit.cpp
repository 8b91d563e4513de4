// Raising RLIMIT_NOFILE for the connection limit.
#include "open_file_limit.h"

#include <sys/resource.h>

namespace
{

// Listening socket, epoll and wake-up descriptors of every worker, standard
// streams, the signal pipe, and some room for a connection being refused.
constexpr uint64_t kOwnDescriptors = 64;

} // namespace

uint32_t RaiseOpenFileLimit(uint32_t nConnections)
{
    const uint64_t nWanted = nConnections + kOwnDescriptors;
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return nConnections;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < nWanted)
    {
        rlimit raised = limit;
        raised.rlim_cur = (limit.rlim_max == RLIM_INFINITY || limit.rlim_max >= nWanted)
            ? nWanted
            : limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= nWanted)
        return nConnections;
    if (limit.rlim_cur <= kOwnDescriptors)
        return 1;
    return static_cast<uint32_t>(limit.rlim_cur - kOwnDescriptors);
}
