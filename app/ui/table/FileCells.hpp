#pragma once

#include "app/model/nodes/CleanableNode.hpp"
#include "app/ui/table/FileTableColumn.hpp"
#include "platform/error/Error.hpp"

#include <QString>

namespace marrowdale {

// The cells of a file row, shared by the table and the outline.

// The row's name as display text: the bytes of the id are never changed, only what is drawn.
QString nameCellText(CleanableNode& node);
// The size in the interface's file style ("Zero kB", "1.5 MB").
QString sizeCellText(CleanableNode& node);
// The last access date the row keeps, in the locale's short date and time, or "--" when there is
// none.
QString dateCellText(CleanableNode& node);
// The tooltip of a row whose deletion failed.
QString failedToDeleteToolTip(const velmor::Error& error);
QString columnTitle(FileTableColumn column);

} // namespace marrowdale
