#include "sdk/finder/criteria/FileNameCriterion.hpp"

#include "platform/metadata/ComparisonPredicate.hpp"
#include "platform/metadata/MetadataAttributes.hpp"
#include "sdk/finder/criteria/URLViews.hpp"

#include <algorithm>

namespace sweepkit {

using velmor::RegularExpression;
using velmor::metadata::ComparisonOperator;
using velmor::metadata::ComparisonPredicate;

namespace {

std::string replaceAll(std::string text, std::string_view from, std::string_view to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

} // namespace

FileNameCriterion::FileNameCriterion(std::string expression, std::string indexPattern, std::size_t wildcards)
    // A pattern like *a*a*a*a*b must not run away on a long name, nor give up and pass for no match:
    // with more than one wildcard, names are matched without backtracking. One wildcard can only be
    // retried at each position of the name, and the compiled matcher is many times faster.
    : regularExpression_(
          std::move(expression),
          RegularExpression::Options{.caseInsensitive = true, .withoutBacktracking = wildcards > 1}),
      spotlightPredicate_(ComparisonPredicate::make(velmor::metadata::NSMetadataItemFSNameKey,
                                                    ComparisonOperator::like, std::move(indexPattern),
                                                    {.caseInsensitive = true})) {}

FileNameCriterion FileNameCriterion::initWithWildcard(const std::string& pattern) {
    std::string expression = replaceAll(RegularExpression::escapedPattern(pattern), "\\*", ".*");
    return FileNameCriterion("^" + expression + "$", pattern,
                             std::count(pattern.begin(), pattern.end(), '*'));
}

FileNameCriterion FileNameCriterion::initWithExtension(const std::string& extension) {
    auto first = extension.find_first_not_of('.');
    std::string trimmed = first == std::string::npos
                              ? ""
                              : extension.substr(first, extension.find_last_not_of('.') - first + 1);
    return FileNameCriterion("^.*\\." + RegularExpression::escapedPattern(trimmed) + "$", "*." + trimmed, 1);
}

bool FileNameCriterion::matches(const FileSystemItem& item) const {
    return regularExpression_.hasMatch(lastPathComponentView(item.url), {.anchored = true});
}

bool FileNameCriterion::includes(const FileMatchingCriterion& other) const {
    auto name = dynamic_cast<const FileNameCriterion*>(&other);
    return name != nullptr && name->regularExpression_ == regularExpression_;
}

std::string FileNameCriterion::description() const {
    return "FileNameCriterion(regularExpression: \"" + regularExpression_.pattern() +
           "\", spotlightPredicate: " + spotlightPredicate_->predicateFormat() + ")";
}

} // namespace sweepkit
