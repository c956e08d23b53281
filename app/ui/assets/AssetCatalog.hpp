#pragma once

#include <QColor>
#include <QString>

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace marrowdale {

// The named colours and images compiled into the program under ":/assets/": "colors.json" holds
// each colour's light and dark value as "#RRGGBBAA", and each image is "<name>.svg", a slash in the
// name being a folder. Read once, on first use, from any thread; immutable afterwards.
class AssetCatalog {
public:
    static const AssetCatalog& shared();

    // The dark value of the colour `name`; nothing when the catalogue has none.
    std::optional<QColor> color(const std::string& name) const;
    // The resource path of the image `name`; nothing when the catalogue has none.
    std::optional<QString> imagePath(const std::string& name) const;

    // Logs once per name that `name` was asked for and is missing: a view drawing many times a
    // second must not flood the log.
    void reportMissing(const char* kind, const std::string& name) const;

private:
    AssetCatalog();

    std::map<std::string, QColor> colors_;
    mutable std::mutex reportedMutex_;
    mutable std::set<std::string> reported_;
};

} // namespace marrowdale
