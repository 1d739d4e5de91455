#include "Platform/Files/DescriptorLimit.hpp"

namespace larkspin::DescriptorLimit {

rlim_t raiseToHardLimit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    if (limit.rlim_cur == limit.rlim_max) return limit.rlim_cur;
    const rlim_t before = limit.rlim_cur;
    limit.rlim_cur = limit.rlim_max;
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_cur : before;
}

rlim_t current() {
    struct rlimit limit {};
    return ::getrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_cur : RLIM_INFINITY;
}

}  // namespace larkspin::DescriptorLimit
