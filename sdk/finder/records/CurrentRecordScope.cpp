#include "sdk/finder/records/CurrentRecordScope.hpp"

namespace sweepkit {

namespace {

thread_local const FileSystemItem* current = nullptr;

} // namespace

CurrentRecordScope::CurrentRecordScope(const FileSystemItem& item) : previous_(current) {
    current = &item;
}

CurrentRecordScope::~CurrentRecordScope() {
    current = previous_;
}

bool CurrentRecordScope::holds(const FileSystemItem& item) {
    return current == &item;
}

} // namespace sweepkit
