// The service's clock: the machine's time moved by a configured skew, so that a developer can make
// the service refuse the timestamps of a client whose clock is right.
#pragma once

#include <cstdint>
#include <ctime>

namespace mbservice {

class ServiceClock {
public:
    explicit ServiceClock(std::int64_t skewSeconds = 0) : skew_(skewSeconds) {}
    std::int64_t Now() const { return static_cast<std::int64_t>(std::time(nullptr)) + skew_; }
    std::int64_t Skew() const { return skew_; }

private:
    std::int64_t skew_;
};

} // namespace mbservice
