#include "app/ui/assets/ColorAsset.hpp"

#include "app/ui/assets/AssetCatalog.hpp"

namespace marrowdale {

QColor ColorAsset::color() const {
    const auto& catalog = AssetCatalog::shared();
    if (auto found = catalog.color(name)) {
        return *found;
    }
    catalog.reportMissing("colour", name);
    return QColor(Qt::transparent);
}

} // namespace marrowdale
