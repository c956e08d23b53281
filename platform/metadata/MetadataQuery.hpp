#pragma once

#include "platform/metadata/MetadataIndex.hpp"

#include <memory>
#include <string>
#include <vector>

namespace velmor::metadata {

// One search of the process-wide metadata index: set the scopes, the predicate and the attributes
// to collect, start it, then poll `isGathering` and `results` until it has gathered, and stop it.
// Its notifications are never observed here, so it needs no queue of its own. With no index
// installed a started query has gathered at once, with no result. A query is used from one thread
// at a time.
class MetadataQuery {
public:
    MetadataQuery() = default;
    MetadataQuery(const MetadataQuery&) = delete;
    MetadataQuery& operator=(const MetadataQuery&) = delete;

    const std::vector<URL>& searchScopes() const { return searchScopes_; }
    void setSearchScopes(std::vector<URL> scopes) { searchScopes_ = std::move(scopes); }
    const PredicatePointer& predicate() const { return predicate_; }
    void setPredicate(PredicatePointer predicate) { predicate_ = std::move(predicate); }
    const std::vector<std::string>& valueListAttributes() const { return valueListAttributes_; }
    void setValueListAttributes(std::vector<std::string> attributes) {
        valueListAttributes_ = std::move(attributes);
    }

    // False, and nothing happens, when the query has no predicate or was started before.
    bool start();
    // Ends gathering; what was found stays readable.
    void stop();
    bool isStarted() const { return started_; }
    bool isStopped() const { return stopped_; }
    // True from the start until the index has gathered or the query is stopped; once false it
    // stays false.
    bool isGathering() const;

    std::size_t resultCount() const { return results_.size(); }
    const std::vector<MetadataItem>& results() const { return results_; }

private:
    std::vector<URL> searchScopes_;
    PredicatePointer predicate_;
    std::vector<std::string> valueListAttributes_;
    std::shared_ptr<const MetadataIndex> index_;
    std::vector<MetadataItem> results_;
    bool started_ = false;
    bool stopped_ = false;
    mutable bool gathered_ = false;
};

} // namespace velmor::metadata
