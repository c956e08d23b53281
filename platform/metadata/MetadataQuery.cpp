#include "platform/metadata/MetadataQuery.hpp"

namespace velmor::metadata {

bool MetadataQuery::start() {
    if (started_ || predicate_ == nullptr) {
        return false;
    }
    started_ = true;
    index_ = MetadataIndex::current();
    if (index_ != nullptr) {
        results_ = index_->search(searchScopes_, *predicate_);
    }
    return true;
}

void MetadataQuery::stop() {
    if (started_) {
        stopped_ = true;
    }
}

bool MetadataQuery::isGathering() const {
    if (!started_ || stopped_ || gathered_) {
        return false;
    }
    if (index_ != nullptr && index_->isGathering()) {
        return true;
    }
    gathered_ = true;
    return false;
}

} // namespace velmor::metadata
