#include "app/ui/header/Header.hpp"

#include "app/model/testing/DefinitionsBundle.hpp"
#include "app/ui/header/HeaderPresentation.hpp"
#include "app/ui/header/ScanButton.hpp"
#include "app/ui/testing/DoubleClickInterval.hpp"
#include "app/ui/testing/Screenshots.hpp"
#include "app/ui/text/Localized.hpp"
#include "foundation/core/log/RecordingLogger.hpp"

#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>

namespace marrowdale {
namespace {

using Kind = Cleaner::State::Kind;
using velmor::testing::exists;

const QString hint = "Scan your home folder for files you can remove";

TEST(HeaderPresentation, OneRowPerStateAndSelection) {
    struct Case {
        Kind kind;
        bool anythingSelected;
        std::int64_t selectedSize;
        QString title;
        ScanButtonAction action;
        bool enabled;
        QString status;
    };
    const Case cases[] = {
        {Kind::stopped, false, 0, "Scan Home Folder", ScanButtonAction::scan, true, hint},
        {Kind::scanning, false, 0, "Stop", ScanButtonAction::stop, true, hint},
        {Kind::scanning, true, 0, "Stop", ScanButtonAction::stop, true, hint},
        {Kind::scanned, false, 0, "Clean", ScanButtonAction::clean, false, "Selected: Zero kB"},
        {Kind::scanned, true, 1'500'000, "Clean", ScanButtonAction::clean, true, "Selected: 1.5 MB"},
        {Kind::scanned, true, 999, "Clean", ScanButtonAction::clean, true, "Selected: 999 bytes"},
        {Kind::cleaning, true, 0, "Clean", ScanButtonAction::none, false, "Selected: Zero kB"},
    };
    for (const auto& c : cases) {
        const HeaderPresentation shown = presentHeader(c.kind, c.anythingSelected, c.selectedSize);
        const auto row = static_cast<int>(c.kind);
        EXPECT_EQ(localized(shown.titleKey), c.title) << row;
        EXPECT_EQ(shown.action, c.action) << row;
        EXPECT_EQ(shown.enabled, c.enabled) << row;
        EXPECT_EQ(shown.status, c.status) << row;
    }
}

// A home with a large file in the cache folder (also a cache) and a large old download (also in
// the downloads), searched by the three kinds of definition.
class HeaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        home.writeFile(".cache/big.bin", std::string(6000, 'b'));
        home.writeFile(".cache/app/blob", "c");
        home.writeFile("Downloads/old.iso", std::string(5500, 'o'));
        home.writeFile("Downloads/keep.txt", "k");
        testing::writeDefinitions(
            bundle, {testing::definitionEntry("bigFiles", home.path(), testing::largerThanCondition(5000)),
                     testing::definitionEntry("caches", home / ".cache", testing::deletableCondition),
                     testing::definitionEntry("downloads", home / "Downloads", testing::deletableCondition)});
        cleaner = Cleaner::make([this](const std::string&) { return logger; },
                                velmor::Bundle(velmor::URL::fileURL(bundle.path())));
        header = std::make_unique<Header>(cleaner);
        header->resize(900, header->sizeHint().height());
        header->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(header.get()));
    }

    void TearDown() override {
        // Let a run still going end before its cleaner goes.
        if (cleaner->currentRun()) {
            cleaner->currentRun().cancel();
            EXPECT_TRUE(QTest::qWaitFor([&] { return cleaner->currentRun().isFinished(); }, 30'000));
        }
    }

    void waitFor(Kind kind) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return cleaner->state().kind == kind; }, 30'000))
            << static_cast<int>(kind);
        header->flush();
    }

    void click() {
        QTest::mouseClick(&header->scanButton(), Qt::LeftButton);
        header->flush();
    }

    void expectShown(const QString& title, bool enabled, const QString& status, const char* picture) {
        EXPECT_EQ(header->scanButton().text(), title) << picture;
        EXPECT_EQ(header->scanButton().isEnabled(), enabled) << picture;
        EXPECT_EQ(header->status().text(), status) << picture;
        testing::saveScreenshot(*header, picture);
    }

    velmor::testing::TemporaryDirectory home;
    velmor::testing::TemporaryDirectory bundle;
    std::shared_ptr<velmor::testing::RecordingLogger> logger =
        std::make_shared<velmor::testing::RecordingLogger>();
    // Presses here are separate presses, however quickly they follow a change of the button.
    std::optional<testing::DoubleClickInterval> doubleClickInterval{std::in_place, 0};
    std::shared_ptr<Cleaner> cleaner;
    std::unique_ptr<Header> header;
};

TEST_F(HeaderTest, DrivesTheCleanerThroughEveryState) {
    expectShown("Scan Home Folder", true, hint, "header-stopped");

    click();
    // The model moves on the main thread only: until events are pumped the scan is still running.
    EXPECT_EQ(cleaner->state().kind, Kind::scanning);
    expectShown("Stop", true, hint, "header-scanning");

    waitFor(Kind::scanned);
    expectShown("Clean", false, "Selected: Zero kB", "header-scanned-nothing-selected");
    click();
    EXPECT_EQ(cleaner->state().kind, Kind::scanned) << "a disabled clean does nothing";

    // One id in a category other than the one on display enables cleaning.
    cleaner->setSelectedIds(Category::junkFiles, {"caches"});
    header->flush();
    expectShown("Clean", true, "Selected: 6 kB", "header-scanned-caches-selected");
    // The large file in the cache folder is in the caches row already: 6,001 bytes, not 12,001.
    cleaner->setSelectedIds(Category::largeFiles, {home / ".cache/big.bin"});
    header->flush();
    expectShown("Clean", true, "Selected: 6 kB", "header-scanned-overlap-selected");

    click();
    EXPECT_EQ(cleaner->state().kind, Kind::cleaning);
    expectShown("Clean", false, "Selected: Zero kB", "header-cleaning");
    click();
    EXPECT_EQ(cleaner->state().kind, Kind::cleaning) << "pressing while cleaning does nothing";

    waitFor(Kind::scanned);
    EXPECT_FALSE(exists(home / ".cache/big.bin"));
    EXPECT_FALSE(exists(home / ".cache/app/blob"));
    EXPECT_TRUE(exists(home / "Downloads/old.iso"));
    EXPECT_TRUE(exists(home / "Downloads/keep.txt"));
    EXPECT_EQ(header->scanButton().text(), "Clean") << "once results are on show, the header offers cleaning";
}

TEST_F(HeaderTest, StopCancelsTheRunAndTheScanEndsStoppedByItself) {
    click();
    ASSERT_EQ(header->scanButton().action(), ScanButtonAction::stop);
    const velmor::AnyTask run = cleaner->currentRun();
    click();
    EXPECT_TRUE(run.wasCancelled());
    EXPECT_EQ(cleaner->state().kind, Kind::scanning) << "stopping only cancels the run";
    waitFor(Kind::stopped);
    expectShown("Scan Home Folder", true, hint, "header-stopped-after-stop");
}

TEST_F(HeaderTest, ADoubleClickOnScanStartsTheScanAndDoesNotStopIt) {
    // The two clicks of a double click; the scan's end needs the event loop, so it is still going.
    doubleClickInterval.emplace(60'000);
    QTest::mouseClick(&header->scanButton(), Qt::LeftButton);
    const velmor::AnyTask run = cleaner->currentRun();
    ASSERT_TRUE(run);
    QTest::mouseClick(&header->scanButton(), Qt::LeftButton);
    header->flush();
    expectShown("Stop", true, hint, "header-after-double-click-on-scan");
    EXPECT_FALSE(run.wasCancelled()) << "the second click of the double click landed on Stop";
    waitFor(Kind::scanned);
    EXPECT_EQ(cleaner->currentRun(), run);

    // Once the interval has passed, a press on the changed button is a press of its own.
    cleaner->scan();
    header->flush();
    doubleClickInterval.emplace(0);
    const velmor::AnyTask second = cleaner->currentRun();
    QTest::mouseClick(&header->scanButton(), Qt::LeftButton);
    EXPECT_TRUE(second.wasCancelled());
}

TEST_F(HeaderTest, StoppingWithNoRunDoesNothing) {
    ASSERT_FALSE(cleaner->currentRun());
    perform(ScanButtonAction::stop, *cleaner);
    perform(ScanButtonAction::clean, *cleaner);
    perform(ScanButtonAction::none, *cleaner);
    EXPECT_EQ(cleaner->state().kind, Kind::stopped);
    EXPECT_FALSE(cleaner->currentRun());
}

} // namespace
} // namespace marrowdale
