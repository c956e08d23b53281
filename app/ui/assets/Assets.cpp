#include "app/ui/assets/Assets.hpp"

namespace marrowdale::assets {

ColorAsset color(Category category) {
    return ColorAsset{colorName(category)};
}

ImageAsset image(Category category) {
    return ImageAsset{imageName(category)};
}

} // namespace marrowdale::assets
