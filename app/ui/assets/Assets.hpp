#pragma once

#include "app/model/categories/Category.hpp"
#include "app/ui/assets/ColorAsset.hpp"
#include "app/ui/assets/ImageAsset.hpp"

#include <array>

namespace marrowdale::assets {

// Every colour and image the interface takes from the catalogue, under the catalogue's names.
inline constexpr ColorAsset accentColor{"AccentColor"};
inline constexpr ColorAsset capsuleButtonTextColor{"CapsuleButtonTextColor"};
// Spelled as the catalogue spells it.
inline constexpr ColorAsset customWindowBackgound{"CustomWindowBackgound"};
inline constexpr ColorAsset categorySizeDisabled{"CategorySize/Disabled"};
inline constexpr ColorAsset categorySizeSelectionRectangle{"CategorySize/SelectionRectangle"};
inline constexpr ColorAsset categorySizeJunkFiles{"CategorySize/junkFiles"};
inline constexpr ColorAsset categorySizeLargeFiles{"CategorySize/largeFiles"};
inline constexpr ColorAsset categorySizeOldFiles{"CategorySize/oldFiles"};
inline constexpr ColorAsset mainBoxFillColor{"MainBox/FillColor"};
inline constexpr ColorAsset mainBoxStrokeColor{"MainBox/StrokeColor"};
inline constexpr ColorAsset diskSegmentedViewFree{"DiskSegmentedView/Free"};
inline constexpr ColorAsset diskSegmentedViewFreeText{"DiskSegmentedView/FreeText"};
inline constexpr ColorAsset diskSegmentedViewUsed{"DiskSegmentedView/Used"};
inline constexpr ColorAsset diskSegmentedViewUsedText{"DiskSegmentedView/UsedText"};

inline constexpr ImageAsset brandLogo{"BrandLogo"};
inline constexpr ImageAsset categoriesJunk{"Categories/junk"};
inline constexpr ImageAsset categoriesLarge{"Categories/large"};
inline constexpr ImageAsset categoriesOld{"Categories/old"};

inline constexpr std::array allColors{accentColor,
                                      capsuleButtonTextColor,
                                      customWindowBackgound,
                                      categorySizeDisabled,
                                      categorySizeSelectionRectangle,
                                      categorySizeJunkFiles,
                                      categorySizeLargeFiles,
                                      categorySizeOldFiles,
                                      mainBoxFillColor,
                                      mainBoxStrokeColor,
                                      diskSegmentedViewFree,
                                      diskSegmentedViewFreeText,
                                      diskSegmentedViewUsed,
                                      diskSegmentedViewUsedText};
inline constexpr std::array allImages{brandLogo, categoriesJunk, categoriesLarge, categoriesOld};

// The category's colour and picture, as the model names them.
ColorAsset color(Category category);
ImageAsset image(Category category);

} // namespace marrowdale::assets
