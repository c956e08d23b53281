#include "app/ui/table/FileTableColumn.hpp"

#include <QString>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <optional>

namespace marrowdale {

namespace {

constexpr std::array<const char*, fileTableColumnCount> keyPaths = {"displayName", "size",
                                                                    "lastAccessDateOrDistantPast"};

// The composed form of `name`, when it is UTF-8 that composing changes.
std::optional<std::string> composed(std::string_view name) {
    if (std::all_of(name.begin(), name.end(),
                    [](char byte) { return static_cast<unsigned char>(byte) < 0x80; })) {
        return std::nullopt; // ASCII is its own normal form
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(QByteArrayView(name.data(), static_cast<qsizetype>(name.size())));
    if (decoder.hasError()) {
        return std::nullopt;
    }
    std::string normal = text.normalized(QString::NormalizationForm_C).toStdString();
    if (normal == name) {
        return std::nullopt;
    }
    return normal;
}

} // namespace

NameSortKey NameSortKey::of(std::string_view name) {
    NameSortKey key;
    key.bytes = name;
    if (auto normal = composed(name)) {
        key.composed_ = std::make_shared<const std::string>(std::move(*normal));
        key.bytes = *key.composed_;
    }
    for (std::size_t index = 0; index < 8; ++index) {
        key.prefix <<= 8;
        if (index < key.bytes.size()) {
            key.prefix |= static_cast<unsigned char>(key.bytes[index]);
        }
    }
    return key;
}

FileRowComparator columnComparator(FileTableColumn column, SortOrder order) {
    const char* keyPath = keyPaths[static_cast<std::size_t>(column)];
    switch (column) {
    case FileTableColumn::name:
        return FileRowComparator::make(
            keyPath, [](CleanableNode& node) { return NameSortKey::of(node.displayName()); }, order);
    case FileTableColumn::size:
        return FileRowComparator::make(
            keyPath, [](CleanableNode& node) { return node.size(); }, order);
    case FileTableColumn::lastOpened:
        break;
    }
    return FileRowComparator::make(
        keyPath, [](CleanableNode& node) { return node.lastAccessDateOrDistantPast(); }, order);
}

std::optional<FileTableColumn> columnOf(const FileRowComparator& comparator) {
    for (std::size_t column = 0; column < keyPaths.size(); ++column) {
        if (comparator.keyPath() == keyPaths[column]) {
            return static_cast<FileTableColumn>(column);
        }
    }
    return std::nullopt;
}

FileRowSortOrder initialFileSortOrder() {
    return {columnComparator(FileTableColumn::size, SortOrder::reverse)};
}

} // namespace marrowdale
