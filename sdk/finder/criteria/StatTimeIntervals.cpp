#include "sdk/finder/criteria/StatTimeIntervals.hpp"

#include <chrono>

namespace sweepkit {

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

} // namespace

double timeInterval(const velmor::Timespec& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

double modificationTimeInterval(const velmor::Stat& stat) {
    return timeInterval(stat.st_mtimespec);
}
double statusChangeTimeInterval(const velmor::Stat& stat) {
    return timeInterval(stat.st_ctimespec);
}
double accessTimeInterval(const velmor::Stat& stat) {
    return timeInterval(stat.st_atimespec);
}
double secondsSinceModification(const velmor::Stat& stat) {
    return now() - modificationTimeInterval(stat);
}
double secondsSinceStatusChange(const velmor::Stat& stat) {
    return now() - statusChangeTimeInterval(stat);
}
double secondsSinceAccess(const velmor::Stat& stat) {
    return now() - accessTimeInterval(stat);
}

} // namespace sweepkit
