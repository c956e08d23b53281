#pragma once

#include "platform/fs/URL.hpp"

#include <QDBusConnection>

namespace marrowdale {

// Shows the entry at `url` selected in the desktop's file manager, through the session bus, without
// waiting for it. When no file manager answers there, the parent folder is opened with xdg-open;
// when that fails too, the failure is logged.
void revealInFileManager(const velmor::URL& url, QDBusConnection bus = QDBusConnection::sessionBus());

} // namespace marrowdale
