#include "app/ui/table/FileCells.hpp"

#include "app/ui/text/DisplayText.hpp"
#include "app/ui/text/Localized.hpp"
#include "platform/bundle/Bundle.hpp"
#include "platform/format/ByteCountFormatter.hpp"

#include <QDateTime>
#include <QLocale>

#include <chrono>

namespace marrowdale {

QString nameCellText(CleanableNode& node) {
    return displayText(node.displayName());
}

QString sizeCellText(CleanableNode& node) {
    return QString::fromStdString(velmor::ByteCountFormatter::forInterface().string(node.size()));
}

QString dateCellText(CleanableNode& node) {
    if (auto date = node.lastAccessDate()) {
        // The locale's own short date and time, so a 12-hour locale reads a 12-hour time.
        const auto milliseconds =
            std::chrono::duration_cast<std::chrono::milliseconds>(date->time_since_epoch()).count();
        return QLocale().toString(QDateTime::fromMSecsSinceEpoch(milliseconds), QLocale::ShortFormat);
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
