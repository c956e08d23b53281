#include "app/ui/assets/ImageAsset.hpp"

#include "app/ui/assets/AssetCatalog.hpp"

#include <QPainter>
#include <QSvgRenderer>

#include <cmath>

namespace marrowdale {

QSize ImageAsset::naturalSize() const {
    auto path = AssetCatalog::shared().imagePath(name);
    return path ? QSvgRenderer(*path).defaultSize() : QSize();
}

QImage ImageAsset::image(qreal devicePixelRatio) const {
    const auto& catalog = AssetCatalog::shared();
    auto path = catalog.imagePath(name);
    if (!path) {
        catalog.reportMissing("image", name);
        return {};
    }
    QSvgRenderer renderer(*path);
    const QSize size = renderer.defaultSize();
    QImage image(int(std::ceil(size.width() * devicePixelRatio)),
                 int(std::ceil(size.height() * devicePixelRatio)), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    image.setDevicePixelRatio(devicePixelRatio);
    return image;
}

} // namespace marrowdale
