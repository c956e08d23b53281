#include "app/ui/home/Footer.hpp"

#include "app/model/testing/DefinitionsBundle.hpp"
#include "app/ui/assets/Assets.hpp"
#include "app/ui/home/DiskSpaceGraph.hpp"
#include "app/ui/home/FooterPresentation.hpp"
#include "app/ui/testing/Screenshots.hpp"
#include "foundation/core/log/RecordingLogger.hpp"

#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace marrowdale {
namespace {

constexpr std::int64_t gigabyte = 1'000'000'000;

TEST(DiskSpaceWidths, UsedKeepsItsMinimumAndFreeTakesItsShare) {
    struct Case {
        const char* what;
        double width;
        std::int64_t total;
        std::int64_t available;
        double used;
        double free;
    };
    const Case cases[] = {
        {"half full", 804, 1000, 500, 400, 400},
        {"nearly full: free at its minimum", 804, 1000, 1, 650, 150},
        {"nearly empty: used at its minimum", 804, 1000, 999, 150, 650},
        {"full", 804, 1000, 0, 650, 150},
        {"empty", 804, 1000, 1000, 150, 650},
        {"narrow: used keeps 150, free the rest", 200, 1000, 500, 150, 46},
        {"narrower than one part: free is cut to nothing", 100, 1000, 500, 150, 0},
        {"no room at all", 0, 1000, 500, 150, 0},
        {"huge figures stay finite", 804, std::numeric_limits<std::int64_t>::max(),
         std::numeric_limits<std::int64_t>::max() / 2, 400, 400},
    };
    for (const auto& c : cases) {
        const DiskSpaceWidths widths = diskSpaceWidths(c.width, 4, 150, c.total, c.available);
        EXPECT_NEAR(widths.used, c.used, 1e-6) << c.what;
        EXPECT_NEAR(widths.free, c.free, 1e-6) << c.what;
        EXPECT_TRUE(std::isfinite(widths.used) && std::isfinite(widths.free)) << c.what;
    }
}

TEST(DiskSpaceWidths, OnlyFiguresThatFitMakeAGraph) {
    struct Case {
        std::int64_t total;
        std::int64_t available;
        bool usable;
    };
    const Case cases[] = {
        {1000, 500, true}, {1000, 0, true},   {1000, 1000, true},  {0, 0, false},
        {-5, 0, false},    {1000, -1, false}, {1000, 1001, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(diskFiguresUsable(c.total, c.available), c.usable) << c.total << " " << c.available;
    }
}

TEST(FooterPresentation, OneRowPerFigures) {
    struct Case {
        const char* what;
        std::optional<std::string> name;
        std::optional<std::int64_t> total;
        std::optional<std::int64_t> available;
        QString shownName;
        std::optional<QString> shownTotal;
        bool graph;
    };
    const Case cases[] = {
        {"all known", "Disk", 500 * gigabyte, 100 * gigabyte, "Disk", "500 GB", true},
        {"name missing", std::nullopt, 500 * gigabyte, 100 * gigabyte, " ", "500 GB", true},
        {"total missing", "Disk", std::nullopt, 100 * gigabyte, "Disk", std::nullopt, false},
        {"available missing", "Disk", 500 * gigabyte, std::nullopt, "Disk", "500 GB", false},
        {"total zero", "Disk", 0, 0, "Disk", "Zero kB", false},
        {"available beyond the total", "Disk", 100, 200, "Disk", "100 bytes", false},
        {"available negative", "Disk", 100, -1, "Disk", "100 bytes", false},
        {"a name with a line break", std::string("Disk\nTwo"), std::nullopt, std::nullopt, "Disk\uFFFDTwo",
         std::nullopt, false},
    };
    for (const auto& c : cases) {
        const FooterPresentation shown = presentFooter(c.name, c.total, c.available);
        EXPECT_EQ(shown.name, c.shownName) << c.what;
        EXPECT_EQ(shown.total, c.shownTotal) << c.what;
        EXPECT_EQ(shown.showsGraph, c.graph) << c.what;
    }
}

class FooterTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::writeDefinitions(bundle, {});
        cleaner = Cleaner::make([this](const std::string&) { return logger; },
                                velmor::Bundle(velmor::URL::fileURL(bundle.path())));
        footer = std::make_unique<Footer>(cleaner);
        footer->resize(900, footer->sizeHint().height());
        footer->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(footer.get()));
    }

    velmor::testing::TemporaryDirectory bundle;
    std::shared_ptr<velmor::testing::RecordingLogger> logger =
        std::make_shared<velmor::testing::RecordingLogger>();
    std::shared_ptr<Cleaner> cleaner;
    std::unique_ptr<Footer> footer;
};

TEST_F(FooterTest, DrawsEachCaseOfFigures) {
    struct Case {
        const char* picture;
        std::optional<std::string> name;
        std::optional<std::int64_t> total;
        std::optional<std::int64_t> available;
        QString line;
    };
    const Case cases[] = {
        {"footer-known", "Disk", 500 * gigabyte, 120 * gigabyte, "Disk - 500 GB"},
        {"footer-name-missing", std::nullopt, 500 * gigabyte, 120 * gigabyte, "  - 500 GB"},
        {"footer-total-missing", "Disk", std::nullopt, 120 * gigabyte, "Disk"},
        {"footer-available-missing", "Disk", 500 * gigabyte, std::nullopt, "Disk - 500 GB"},
        {"footer-total-zero", "Disk", 0, 0, "Disk - Zero kB"},
        {"footer-nearly-full", "Disk", 500 * gigabyte, gigabyte, "Disk - 500 GB"},
        {"footer-nearly-empty", "Disk", 500 * gigabyte, 499 * gigabyte, "Disk - 500 GB"},
    };
    for (const auto& c : cases) {
        const FooterPresentation shown = presentFooter(c.name, c.total, c.available);
        footer->present(shown);
        footer->layout()->activate();
        QString line = footer->name().text();
        for (QLabel* label : {&footer->separator(), &footer->total()}) {
            if (!label->isHidden()) {
                line += " " + label->text();
            }
        }
        EXPECT_EQ(line, c.line) << c.picture;
        EXPECT_EQ(footer->graph().isHidden(), !shown.showsGraph) << c.picture;
        EXPECT_EQ(footer->placeholder().isHidden(), shown.showsGraph) << c.picture;
        testing::saveScreenshot(*footer, c.picture);
        if (shown.showsGraph) {
            const DiskSpaceWidths widths = footer->graph().widths();
            EXPECT_GE(widths.used, 150) << c.picture;
            EXPECT_GE(widths.free, 150) << c.picture;
            EXPECT_NEAR(widths.used + widths.free, footer->graph().width() - 4, 1e-6) << c.picture;
        }
    }
}

TEST(DiskSpaceGraphTest, TheFreePartEndsRoundedAtTheGraphsEdge) {
    DiskSpaceGraph graph(1000, 400, 4, 150);
    graph.resize(600, 46);
    const QImage image = testing::drawnOnTransparent(graph);
    testing::saveScreenshot(graph, "disk-space-graph-free-end");
    const int right = image.width() - 1;
    // The free part ends at the graph's last column, with corners as round as the used part's
    // at the first: column for column, the two ends are mirror images.
    EXPECT_EQ(qAlpha(image.pixel(right, image.height() / 2)), qAlpha(assets::diskSegmentedViewFree.color().rgba()));
    for (int y = 0; y < image.height(); ++y) {
        EXPECT_NEAR(qAlpha(image.pixel(right, y)) / double(qAlpha(assets::diskSegmentedViewFree.color().rgba())),
                    qAlpha(image.pixel(0, y)) / double(qAlpha(assets::diskSegmentedViewUsed.color().rgba())), 0.05)
            << "row " << y << ": the free part's end is not rounded as the used part's start";
    }
}

TEST(DiskSpaceGraphTest, ANarrowGraphKeepsTheUsedPartWhole) {
    DiskSpaceGraph graph(1000, 500, 4, 150);
    graph.resize(200, 46);
    EXPECT_EQ(graph.widths().used, 150);
    EXPECT_EQ(graph.widths().free, 46);
    EXPECT_EQ(graph.usedText(), "Used: 500 bytes");
    EXPECT_EQ(graph.freeText(), "Free: 500 bytes");
    testing::saveScreenshot(graph, "disk-space-graph-narrow");

    graph.setCapacities(1000, 1000);
    EXPECT_EQ(graph.usedText(), "Used: Zero kB");
}

} // namespace
} // namespace marrowdale
