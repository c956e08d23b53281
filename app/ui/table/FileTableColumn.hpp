#pragma once

#include "app/model/nodes/CleanableNode.hpp"
#include "app/ui/table/KeyPathComparator.hpp"

#include <compare>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marrowdale {

using FileRowComparator = KeyPathComparator<CleanableNode>;
using FileRowSortOrder = std::vector<FileRowComparator>;

// The file table's columns, in display order.
enum class FileTableColumn { name, size, lastOpened };
inline constexpr int fileTableColumnCount = 3;

// A name as it sorts: its canonically composed (NFC) UTF-8 bytes, compared byte by byte, which is
// Unicode scalar order, case-sensitive. A name that is no UTF-8 sorts by its bytes as they are.
// The first eight bytes are packed into one number that decides most comparisons alone. A name
// that is already composed is read where it is, so a key of it copies nothing and must not outlive
// it.
struct NameSortKey {
    std::uint64_t prefix = 0;
    std::string_view bytes;

    static NameSortKey of(std::string_view name);
    std::uint64_t sortPrefix() const { return prefix; }

    friend std::strong_ordering operator<=>(const NameSortKey& a, const NameSortKey& b) {
        if (auto order = a.prefix <=> b.prefix; order != 0) {
            return order;
        }
        return a.bytes.compare(b.bytes) <=> 0;
    }
    friend bool operator==(const NameSortKey& a, const NameSortKey& b) { return a.bytes == b.bytes; }

private:
    // The composed form, when it differs from the name; shared, so a copied key views it still.
    std::shared_ptr<const std::string> composed_;
};

// The comparator of a column's sort key: the name, the size, or the last access date (the distant
// past when there is none).
FileRowComparator columnComparator(FileTableColumn column, SortOrder order = SortOrder::forward);
std::optional<FileTableColumn> columnOf(const FileRowComparator& comparator);
// A new table lists the largest entries first.
FileRowSortOrder initialFileSortOrder();

} // namespace marrowdale
