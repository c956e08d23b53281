#include "app/ui/assets/Assets.hpp"

#include "app/ui/testing/Screenshots.hpp"
#include "platform/log/CaptureSink.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QWidget>

#include <gtest/gtest.h>

namespace marrowdale {
namespace {

using velmor::log::CaptureSink;
using velmor::log::LogSink;
using velmor::log::LogType;

class AssetsTest : public ::testing::Test {
protected:
    void SetUp() override { previous = LogSink::install(sink); }
    void TearDown() override { LogSink::install(previous); }

    std::vector<std::string> errors() const {
        std::vector<std::string> lines;
        for (const auto& entry : sink->entries()) {
            if (entry.type == LogType::error) {
                lines.push_back(entry.category + ": " + entry.message);
            }
        }
        return lines;
    }

    std::shared_ptr<CaptureSink> sink = std::make_shared<CaptureSink>();
    std::shared_ptr<LogSink> previous;
};

bool hasOpaquePixel(const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) == 255) {
                return true;
            }
        }
    }
    return false;
}

TEST_F(AssetsTest, EveryNameTheInterfaceUsesIsInTheCatalogue) {
    QWidget sheet;
    auto* layout = new QHBoxLayout(&sheet);
    for (const auto& asset : assets::allColors) {
        const QColor color = asset.color();
        EXPECT_TRUE(color.isValid()) << asset.name;
        EXPECT_GT(color.alpha(), 0) << asset.name;
        auto* swatch = new QLabel;
        QPixmap fill(24, 48);
        fill.fill(color);
        swatch->setPixmap(fill);
        swatch->setToolTip(asset.name);
        layout->addWidget(swatch);
    }
    for (const auto& asset : assets::allImages) {
        const QImage image = asset.image();
        EXPECT_FALSE(image.isNull()) << asset.name;
        EXPECT_EQ(image.size(), asset.naturalSize()) << asset.name;
        EXPECT_TRUE(hasOpaquePixel(image)) << asset.name;
        auto* picture = new QLabel;
        picture->setPixmap(QPixmap::fromImage(image));
        layout->addWidget(picture);
    }
    EXPECT_EQ(assets::image(Category::largeFiles).image(2.0).size(),
              assets::categoriesLarge.naturalSize() * 2);
    EXPECT_TRUE(errors().empty()) << errors().front();
    testing::saveScreenshot(sheet, "assets");
}

TEST_F(AssetsTest, EachCategoryHasItsOwnColourAndPicture) {
    struct Case {
        Category category;
        const char* color;
        const char* image;
    };
    const Case cases[] = {
        {Category::largeFiles, "CategorySize/largeFiles", "Categories/large"},
        {Category::junkFiles, "CategorySize/junkFiles", "Categories/junk"},
        {Category::oldFiles, "CategorySize/oldFiles", "Categories/old"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(assets::color(c.category).name, c.color);
        EXPECT_STREQ(assets::image(c.category).name, c.image);
        EXPECT_GT(assets::color(c.category).color().alpha(), 0);
        EXPECT_FALSE(assets::image(c.category).image().isNull());
    }
    EXPECT_NE(assets::color(Category::largeFiles).color(), assets::color(Category::junkFiles).color());
    EXPECT_NE(assets::color(Category::junkFiles).color(), assets::color(Category::oldFiles).color());
}

TEST_F(AssetsTest, AMissingNameDrawsNothingAndIsLoggedOnce) {
    // The window background is looked up only as the catalogue spells it.
    const ColorAsset corrected{"CustomWindowBackground"};
    EXPECT_EQ(corrected.color(), QColor(Qt::transparent));
    EXPECT_EQ(corrected.color().alpha(), 0);
    const ImageAsset missing{"Categories/huge"};
    EXPECT_TRUE(missing.image().isNull());
    EXPECT_TRUE(missing.image().isNull());
    EXPECT_TRUE(missing.naturalSize().isEmpty());
    EXPECT_EQ(errors(), (std::vector<std::string>{
                            "Assets: No colour named \"CustomWindowBackground\" in the asset catalogue",
                            "Assets: No image named \"Categories/huge\" in the asset catalogue"}));
}

} // namespace
} // namespace marrowdale
