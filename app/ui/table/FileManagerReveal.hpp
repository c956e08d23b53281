#pragma once

#include "platform/fs/URL.hpp"

#include <QDBusConnection>

class QWidget;

namespace marrowdale {

// Shows the entry at `url` selected in the desktop's file manager, through the session bus, without
// waiting for it. When no file manager answers there, the parent folder is opened with xdg-open;
// when that cannot start or ends in a failure, the failure is logged and the user told in a message box over
// `alertParent` (when it is still there by then).
void revealInFileManager(const velmor::URL& url, QDBusConnection bus = QDBusConnection::sessionBus(),
                         QWidget* alertParent = nullptr);

} // namespace marrowdale
