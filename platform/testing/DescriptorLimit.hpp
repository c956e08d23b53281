#pragma once

#include <sys/resource.h>

namespace velmor::testing {

// Lowers the process's soft descriptor limit while the object lives, and puts it back at its end.
class DescriptorLimit {
public:
    explicit DescriptorLimit(rlim_t soft) {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        struct ::rlimit lowered = saved_;
        lowered.rlim_cur = soft;
        applied_ = ::setrlimit(RLIMIT_NOFILE, &lowered) == 0;
    }
    ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &saved_); }
    DescriptorLimit(const DescriptorLimit&) = delete;
    DescriptorLimit& operator=(const DescriptorLimit&) = delete;
    bool applied() const { return applied_; }

private:
    struct ::rlimit saved_ {};
    bool applied_ = false;
};

} // namespace velmor::testing
