#pragma once

#include "app/ui/update/UpdateVersion.hpp"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <vector>

namespace marrowdale {

// One release the update feed offers.
struct UpdateItem {
    // The build version the feed gives, compared with the program's own.
    QString version;
    // What the user is shown: the feed's short version string, else the build version.
    QString displayVersion;
    // The enclosure's address; empty when the item has none.
    QUrl address;
};

// What an update feed says about the running version.
struct UpdateFeedReading {
    enum class Kind {
        // `item` is the newest release above the running version.
        newer,
        // No item, or none above the running version.
        upToDate,
        // `failure` says why the feed could not be read.
        unreadable,
    };
    Kind kind = Kind::unreadable;
    UpdateItem item;
    QString failure;
    // One line per item that was passed over because its version could not be read.
    std::vector<QString> skipped;
};

// Reads an RSS 2.0 update feed. Each item's build version is its enclosure's `version` attribute in
// the update framework's namespace (the one the feed binds to the prefix "sparkle"), else a `version`
// element in that namespace; `shortVersionString` likewise gives its display version. Nothing
// outside the body is fetched, and the reader's limit on entity expansion stops an expansion bomb.
UpdateFeedReading readUpdateFeed(const QByteArray& body, const UpdateVersion& running);

} // namespace marrowdale
