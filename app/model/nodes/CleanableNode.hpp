#pragma once

#include "app/model/definitions/FileFinderCategory.hpp"
#include "platform/concurrency/MainActor.hpp"
#include "sdk/finder/AnalysisResult.hpp"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace marrowdale {

class CleanableNode;
using CleanableNodePtr = std::shared_ptr<CleanableNode>;
using CleanableNodes = std::vector<CleanableNodePtr>;

// Which icon a row shows; the interface resolves it from the icon theme.
struct IconDescriptor {
    enum class Kind { file, folderType, dataType };
    Kind kind = Kind::dataType;
    // The entry's path, for `file`.
    std::string path;

    friend bool operator==(const IconDescriptor&, const IconDescriptor&) = default;
};

// One row of the result tree the user selects from. Rows live on the main thread, and are destroyed
// there whichever thread lets go of them last. Their name, icon, size, last access date and children
// are worked out on first use and kept; pruning after a clean may replace the kept size and children.
// The payload
// never changes, so it may be read from any thread.
class CleanableNode {
public:
    // A definition's whole result, shown as one line that cannot be opened.
    struct NonBrowsableResult {
        FileFinderCategory category;
        sweepkit::AnalysisResult result;
    };
    using Payload = std::variant<sweepkit::FileSystemNode, sweepkit::FileSystemItem, NonBrowsableResult>;
    using Date = std::chrono::system_clock::time_point;

    static CleanableNodePtr node(sweepkit::FileSystemNode node);
    static CleanableNodePtr item(sweepkit::FileSystemItem item);
    static CleanableNodePtr nonBrowsableResult(FileFinderCategory category, sweepkit::AnalysisResult result);

    const Payload& payload() const { return payload_; }

    // The path of the entry, or the definition's id for a whole result.
    std::string id() const;
    std::optional<velmor::URL> url() const;

    const std::string& displayName();
    void setDisplayName(std::string name) { displayName_ = std::move(name); }
    const IconDescriptor& icon();
    void setIcon(IconDescriptor icon) { icon_ = std::move(icon); }
    std::int64_t size();
    void setSize(std::int64_t size) { size_ = size; }
    // When the entry was last read, as the scan's record has it, so sorting a million rows by it asks
    // the system nothing; asked of the entry once when there is no record or it holds no such date.
    // Nothing without a URL or when the entry cannot be read.
    const std::optional<Date>& lastAccessDate();
    Date lastAccessDateOrDistantPast();
    static Date distantPast();

    // The child rows of a folder (an empty list for an empty folder); nothing for other rows.
    std::optional<CleanableNodes>& children();
    // Whether `children()` gives at least one row, answered without making the rows.
    bool hasChildren() const;
    void setChildren(std::optional<CleanableNodes> children) { children_ = std::move(children); }

private:
    friend class velmor::MainActor;
    explicit CleanableNode(Payload payload) : payload_(std::move(payload)) {}
    static CleanableNodePtr make(Payload payload);
    // The item the scan found for a file row or a lone item; nothing for a folder or a whole result.
    const sweepkit::FileSystemItem* foundItem() const;
    // The entry's access date as the system has it now.
    std::optional<Date> readLastAccessDate() const;

    Payload payload_;
    std::optional<std::string> displayName_;
    std::optional<IconDescriptor> icon_;
    std::optional<std::int64_t> size_;
    std::optional<std::optional<Date>> lastAccessDate_;
    std::optional<std::optional<CleanableNodes>> children_;
};

} // namespace marrowdale
