#include "app/ui/table/FileCells.hpp"

#include "app/ui/text/DisplayText.hpp"
#include "app/ui/text/Localized.hpp"
#include "platform/bundle/Bundle.hpp"
#include "platform/format/ByteCountFormatter.hpp"
#include "platform/format/DateFormatter.hpp"

namespace marrowdale {

QString nameCellText(CleanableNode& node) {
    return displayText(node.displayName());
}

QString sizeCellText(CleanableNode& node) {
    return QString::fromStdString(velmor::ByteCountFormatter::forInterface().string(node.size()));
}

QString dateCellText(CleanableNode& node) {
    if (auto date = node.lastAccessDate()) {
        return QString::fromStdString(velmor::DateFormatter().string(*date));
    }
    return localized("--");
}

QString failedToDeleteToolTip(const velmor::Error& error) {
    return toolTipText(
        velmor::Bundle::main().localizedString("FileSelector.FailedToDelete%@", error.description()));
}

QString columnTitle(FileTableColumn column) {
    switch (column) {
    case FileTableColumn::name:
        return localized("FileSelector.TableHeader.Name");
    case FileTableColumn::size:
        return localized("FileSelector.TableHeader.Size");
    case FileTableColumn::lastOpened:
        break;
    }
    return localized("FileSelector.TableHeader.LastOpened");
}

} // namespace marrowdale
