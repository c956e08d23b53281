#pragma once

#include "platform/coding/Value.hpp"
#include "platform/fs/URL.hpp"

#include <map>
#include <optional>
#include <string>

namespace velmor::metadata {

// What the metadata index knows of one file: attribute name to value (dates are `coding::Date`).
class MetadataItem {
public:
    MetadataItem(URL url, std::map<std::string, coding::Value> attributes)
        : url_(std::move(url)), attributes_(std::move(attributes)) {}

    // The item the current index holds for `url`; nothing when there is no index or it has never
    // seen the file.
    static std::optional<MetadataItem> forURL(const URL& url);

    const URL& url() const { return url_; }
    const std::map<std::string, coding::Value>& attributes() const { return attributes_; }
    // Nothing when the item lacks the attribute.
    const coding::Value* valueForAttribute(const std::string& attribute) const;

private:
    URL url_;
    std::map<std::string, coding::Value> attributes_;
};

} // namespace velmor::metadata
