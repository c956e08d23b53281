#include "app/model/definitions/EncodableFileMatchingCriterion.hpp"

#include "platform/format/ByteCountFormatter.hpp"
#include "platform/format/DateFormatter.hpp"
#include "platform/hashing/HashCombine.hpp"

#include <cmath>
#include <functional>

namespace marrowdale {

using Kind = EncodableFileMatchingCriterion::Kind;
using velmor::coding::Decoder;
using velmor::coding::Object;
using velmor::coding::Value;

namespace {

enum class Payload { none, text, date, seconds, size, list, single };

struct CaseInfo {
    const char* name;
    Payload payload;
    const char* label;
};

constexpr CaseInfo cases[] = {
    {"fileIsDeletable", Payload::none, nullptr},
    {"fileCaseInsensitiveName", Payload::text, "contains"},
    {"fileCaseInsensitiveExtension", Payload::text, "is"},
    {"fileModifiedBefore", Payload::date, "date"},
    {"fileModifiedAfter", Payload::date, "date"},
    {"fileNotModifiedInLast", Payload::seconds, "seconds"},
    {"fileOpenedBefore", Payload::date, "date"},
    {"fileOpenedAfter", Payload::date, "date"},
    {"fileNotOpenedInLast", Payload::seconds, "seconds"},
    {"fileCreatedBefore", Payload::date, "date"},
    {"fileCreatedAfter", Payload::date, "date"},
    {"fileNotCreatedInLast", Payload::seconds, "seconds"},
    {"fileAddedBefore", Payload::seconds, "seconds"},
    {"latestDateNotInLast", Payload::seconds, "seconds"},
    {"fileSizeLower", Payload::size, "than"},
    {"fileSizeGreater", Payload::size, "than"},
    {"fileSizeEqual", Payload::size, "to"},
    {"and", Payload::list, "subcriteria"},
    {"or", Payload::list, "subcriteria"},
    {"not", Payload::single, "subcriterion"},
};

const CaseInfo& info(Kind kind) {
    return cases[static_cast<int>(kind)];
}

} // namespace

const char* EncodableFileMatchingCriterion::caseName(Kind kind) {
    return info(kind).name;
}

EncodableFileMatchingCriterion EncodableFileMatchingCriterion::fileIsDeletable() {
    return EncodableFileMatchingCriterion(Node{Kind::fileIsDeletable, {}, {}, 0, 0, {}});
}

EncodableFileMatchingCriterion EncodableFileMatchingCriterion::fileCaseInsensitiveName(std::string contains) {
    return EncodableFileMatchingCriterion(
        Node{Kind::fileCaseInsensitiveName, std::move(contains), {}, 0, 0, {}});
}

EncodableFileMatchingCriterion EncodableFileMatchingCriterion::fileCaseInsensitiveExtension(std::string is) {
    return EncodableFileMatchingCriterion(
        Node{Kind::fileCaseInsensitiveExtension, std::move(is), {}, 0, 0, {}});
}

EncodableFileMatchingCriterion EncodableFileMatchingCriterion::withDate(Kind kind, Date date) {
    return EncodableFileMatchingCriterion(Node{kind, {}, date, 0, 0, {}});
}

EncodableFileMatchingCriterion EncodableFileMatchingCriterion::withSeconds(Kind kind, double seconds) {
    return EncodableFileMatchingCriterion(Node{kind, {}, {}, seconds, 0, {}});
}

EncodableFileMatchingCriterion EncodableFileMatchingCriterion::withSize(Kind kind, std::int64_t bytes) {
    return EncodableFileMatchingCriterion(Node{kind, {}, {}, 0, bytes, {}});
}

EncodableFileMatchingCriterion
EncodableFileMatchingCriterion::and_(std::vector<EncodableFileMatchingCriterion> subs) {
    return EncodableFileMatchingCriterion(Node{Kind::and_, {}, {}, 0, 0, std::move(subs)});
}

EncodableFileMatchingCriterion
EncodableFileMatchingCriterion::or_(std::vector<EncodableFileMatchingCriterion> subs) {
    return EncodableFileMatchingCriterion(Node{Kind::or_, {}, {}, 0, 0, std::move(subs)});
}

EncodableFileMatchingCriterion
EncodableFileMatchingCriterion::not_(EncodableFileMatchingCriterion subcriterion) {
    return EncodableFileMatchingCriterion(Node{Kind::not_, {}, {}, 0, 0, {std::move(subcriterion)}});
}

bool operator==(const EncodableFileMatchingCriterion& a, const EncodableFileMatchingCriterion& b) {
    if (a.node_ == b.node_) {
        return true;
    }
    if (a.kind() != b.kind()) {
        return false;
    }
    switch (info(a.kind()).payload) {
    case Payload::none:
        return true;
    case Payload::text:
        return a.text() == b.text();
    case Payload::date:
        return a.date().secondsSinceReferenceDate == b.date().secondsSinceReferenceDate;
    case Payload::seconds:
        return a.seconds() == b.seconds();
    case Payload::size:
        return a.bytes() == b.bytes();
    case Payload::list:
    case Payload::single:
        return a.subcriteria() == b.subcriteria();
    }
    return false;
}

std::size_t EncodableFileMatchingCriterion::hash() const {
    std::size_t seed = 0;
    velmor::hashCombine(seed, static_cast<std::size_t>(kind()));
    switch (info(kind()).payload) {
    case Payload::none:
        break;
    case Payload::text:
        velmor::hashCombine(seed, std::hash<std::string>{}(text()));
        break;
    case Payload::date:
        velmor::hashCombine(seed, std::hash<double>{}(date().secondsSinceReferenceDate));
        break;
    case Payload::seconds:
        velmor::hashCombine(seed, std::hash<double>{}(seconds()));
        break;
    case Payload::size:
        velmor::hashCombine(seed, std::hash<std::int64_t>{}(bytes()));
        break;
    case Payload::list:
        velmor::hashCombine(seed, subcriteria().size());
        [[fallthrough]];
    case Payload::single:
        for (const auto& element : subcriteria()) {
            velmor::hashCombine(seed, element.hash());
        }
        break;
    }
    return seed;
}

std::string EncodableFileMatchingCriterion::description() const {
    const velmor::ByteCountFormatter sizes;
    const velmor::DateFormatter dates;
    auto seconds = [&] { return velmor::shortestDescription(this->seconds()); };
    auto joined = [&](const char* separator) {
        std::string text = "(";
        for (std::size_t i = 0; i < subcriteria().size(); ++i) {
            text += (i > 0 ? separator : "") + subcriteria()[i].description();
        }
        return text + ")";
    };
    switch (kind()) {
    case Kind::fileIsDeletable:
        return "Can delete";
    case Kind::fileCaseInsensitiveName:
        return "Filename contains '" + text() + "'";
    case Kind::fileCaseInsensitiveExtension:
        return "Extensions is '" + text() + "'";
    case Kind::fileModifiedBefore:
        return "Modified < " + dates.string(date());
    case Kind::fileModifiedAfter:
        return "Modified > " + dates.string(date());
    case Kind::fileNotModifiedInLast:
        return "Modified < " + seconds() + " sec";
    case Kind::fileOpenedBefore:
        return "Opened < " + dates.string(date());
    case Kind::fileOpenedAfter:
        return "Opened > " + dates.string(date());
    case Kind::fileNotOpenedInLast:
        return "Opened < " + seconds() + "sec";
    case Kind::fileCreatedBefore:
        return "Created < " + dates.string(date());
    case Kind::fileCreatedAfter:
        return "Created > " + dates.string(date());
    case Kind::fileNotCreatedInLast:
        return "Created < " + seconds() + " sec";
    case Kind::fileAddedBefore:
        return "Added more than " + seconds() + " sec ago";
    case Kind::latestDateNotInLast:
        return "Latest date is more than " + seconds() + " sec ago";
    case Kind::fileSizeLower:
        return "FileSize < " + sizes.string(bytes());
    case Kind::fileSizeGreater:
        return "FileSize > " + sizes.string(bytes());
    case Kind::fileSizeEqual:
        return "FileSize = " + sizes.string(bytes());
    case Kind::and_:
        return joined(" AND ");
    case Kind::or_:
        return joined(" OR ");
    case Kind::not_:
        return "Not " + subcriteria().front().description();
    }
    return {};
}

} // namespace marrowdale

namespace velmor::coding {

using marrowdale::EncodableFileMatchingCriterion;

Value Coding<EncodableFileMatchingCriterion>::encode(const EncodableFileMatchingCriterion& criterion) {
    const auto& caseInfo = marrowdale::info(criterion.kind());
    Object payload;
    switch (caseInfo.payload) {
    case marrowdale::Payload::none:
        break;
    case marrowdale::Payload::text:
        payload.set(caseInfo.label, criterion.text());
        break;
    case marrowdale::Payload::date:
        payload.set(caseInfo.label, criterion.date());
        break;
    case marrowdale::Payload::seconds:
        payload.set(caseInfo.label, criterion.seconds());
        break;
    case marrowdale::Payload::size:
        payload.set(caseInfo.label, criterion.bytes());
        break;
    case marrowdale::Payload::list:
        payload.set(caseInfo.label, coding::encode(criterion.subcriteria()));
        break;
    case marrowdale::Payload::single:
        payload.set(caseInfo.label, coding::encode(criterion.subcriteria().front()));
        break;
    }
    return encodeOneKey(caseInfo.name, std::move(payload));
}

EncodableFileMatchingCriterion Coding<EncodableFileMatchingCriterion>::decode(const Decoder& decoder) {
    auto [name, payload] = decodeOneKey(decoder, {"fileIsDeletable",
                                                  "fileCaseInsensitiveName",
                                                  "fileCaseInsensitiveExtension",
                                                  "fileModifiedBefore",
                                                  "fileModifiedAfter",
                                                  "fileNotModifiedInLast",
                                                  "fileOpenedBefore",
                                                  "fileOpenedAfter",
                                                  "fileNotOpenedInLast",
                                                  "fileCreatedBefore",
                                                  "fileCreatedAfter",
                                                  "fileNotCreatedInLast",
                                                  "fileAddedBefore",
                                                  "latestDateNotInLast",
                                                  "fileSizeLower",
                                                  "fileSizeGreater",
                                                  "fileSizeEqual",
                                                  "and",
                                                  "or",
                                                  "not"});
    int index = 0;
    while (name != marrowdale::cases[index].name) {
        ++index;
    }
    const auto kind = static_cast<EncodableFileMatchingCriterion::Kind>(index);
    const auto& caseInfo = marrowdale::cases[index];
    payload.object(); // the payload is a dictionary, even when nothing is read from it
    switch (caseInfo.payload) {
    case marrowdale::Payload::none:
        return EncodableFileMatchingCriterion::fileIsDeletable();
    case marrowdale::Payload::text:
        return kind == EncodableFileMatchingCriterion::Kind::fileCaseInsensitiveName
                   ? EncodableFileMatchingCriterion::fileCaseInsensitiveName(
                         payload.decode<std::string>(caseInfo.label))
                   : EncodableFileMatchingCriterion::fileCaseInsensitiveExtension(
                         payload.decode<std::string>(caseInfo.label));
    case marrowdale::Payload::date:
        return EncodableFileMatchingCriterion::withDate(kind, payload.decode<Date>(caseInfo.label));
    case marrowdale::Payload::seconds: {
        const double seconds = payload.decode<double>(caseInfo.label);
        // Every comparison with NaN is false, so "not in the last NaN seconds" would match silently
        // nothing, or under a not everything.
        if (std::isnan(seconds)) {
            payload[caseInfo.label].dataCorrupted("Expected a number of seconds but found NaN.");
        }
        return EncodableFileMatchingCriterion::withSeconds(kind, seconds);
    }
    case marrowdale::Payload::size:
        return EncodableFileMatchingCriterion::withSize(kind, payload.decode<std::int64_t>(caseInfo.label));
    case marrowdale::Payload::list: {
        auto subcriteria = payload.decode<std::vector<EncodableFileMatchingCriterion>>(caseInfo.label);
        return kind == EncodableFileMatchingCriterion::Kind::and_
                   ? EncodableFileMatchingCriterion::and_(std::move(subcriteria))
                   : EncodableFileMatchingCriterion::or_(std::move(subcriteria));
    }
    case marrowdale::Payload::single:
        return EncodableFileMatchingCriterion::not_(
            payload.decode<EncodableFileMatchingCriterion>(caseInfo.label));
    }
    payload.dataCorrupted("Unknown criterion.");
}

} // namespace velmor::coding
