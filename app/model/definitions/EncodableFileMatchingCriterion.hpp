#pragma once

#include "platform/coding/Decoding.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace marrowdale {

// The stored form of a matching rule, as category definitions carry it. An immutable tree: copies
// share their nodes.
class EncodableFileMatchingCriterion {
public:
    // In declaration order; the order is also the order of the stored case names.
    enum class Kind {
        fileIsDeletable,
        fileCaseInsensitiveName,
        fileCaseInsensitiveExtension,
        fileModifiedBefore,
        fileModifiedAfter,
        fileNotModifiedInLast,
        fileOpenedBefore,
        fileOpenedAfter,
        fileNotOpenedInLast,
        fileCreatedBefore,
        fileCreatedAfter,
        fileNotCreatedInLast,
        fileAddedBefore,
        latestDateNotInLast,
        fileSizeLower,
        fileSizeGreater,
        fileSizeEqual,
        and_,
        or_,
        not_,
    };
    using Date = velmor::coding::Date;

    static EncodableFileMatchingCriterion fileIsDeletable();
    static EncodableFileMatchingCriterion fileCaseInsensitiveName(std::string contains);
    static EncodableFileMatchingCriterion fileCaseInsensitiveExtension(std::string is);
    // The date cases: fileModifiedBefore/After, fileOpenedBefore/After, fileCreatedBefore/After.
    static EncodableFileMatchingCriterion withDate(Kind kind, Date date);
    // The seconds cases: fileNotModifiedInLast, fileNotOpenedInLast, fileNotCreatedInLast,
    // fileAddedBefore, latestDateNotInLast.
    static EncodableFileMatchingCriterion withSeconds(Kind kind, double seconds);
    // The size cases: fileSizeLower, fileSizeGreater, fileSizeEqual.
    static EncodableFileMatchingCriterion withSize(Kind kind, std::int64_t bytes);
    static EncodableFileMatchingCriterion and_(std::vector<EncodableFileMatchingCriterion> subcriteria);
    static EncodableFileMatchingCriterion or_(std::vector<EncodableFileMatchingCriterion> subcriteria);
    static EncodableFileMatchingCriterion not_(EncodableFileMatchingCriterion subcriterion);

    Kind kind() const { return node_->kind; }
    // The name pattern or the extension.
    const std::string& text() const { return node_->text; }
    Date date() const { return node_->date; }
    double seconds() const { return node_->seconds; }
    std::int64_t bytes() const { return node_->bytes; }
    // The elements of `and_` and `or_`, or the one element of `not_`.
    const std::vector<EncodableFileMatchingCriterion>& subcriteria() const { return node_->subcriteria; }

    static const char* caseName(Kind kind);

    std::string description() const;
    friend bool operator==(const EncodableFileMatchingCriterion& a, const EncodableFileMatchingCriterion& b);
    std::size_t hash() const;

private:
    struct Node {
        Kind kind;
        std::string text;
        Date date;
        double seconds = 0;
        std::int64_t bytes = 0;
        std::vector<EncodableFileMatchingCriterion> subcriteria;
    };
    explicit EncodableFileMatchingCriterion(Node node)
        : node_(std::make_shared<const Node>(std::move(node))) {}

    std::shared_ptr<const Node> node_;
};

} // namespace marrowdale

template <> struct std::hash<marrowdale::EncodableFileMatchingCriterion> {
    std::size_t operator()(const marrowdale::EncodableFileMatchingCriterion& criterion) const noexcept {
        return criterion.hash();
    }
};

template <> struct velmor::coding::Coding<marrowdale::EncodableFileMatchingCriterion> {
    static Value encode(const marrowdale::EncodableFileMatchingCriterion& criterion);
    static marrowdale::EncodableFileMatchingCriterion decode(const Decoder& decoder);
};
