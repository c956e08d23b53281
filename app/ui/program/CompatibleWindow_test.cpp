#include "app/ui/program/CompatibleWindow.hpp"

#include "app/model/testing/DefinitionsBundle.hpp"
#include "app/ui/home/ContentView.hpp"
#include "app/ui/home/Footer.hpp"
#include "app/ui/home/HomeView.hpp"
#include "app/ui/testing/CleanerRuns.hpp"
#include "app/ui/testing/Screenshots.hpp"
#include "app/ui/update/UpdateManager.hpp"
#include "foundation/core/log/RecordingLogger.hpp"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QImage>
#include <QMessageBox>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

namespace marrowdale {
namespace {

using Kind = Cleaner::State::Kind;
using velmor::testing::exists;

class CountingUpdateManager : public UpdateManager {
public:
    void checkForUpdates() override { ++checks; }
    int checks = 0;
};

class CountingUpdatingSystem : public UpdatingSystem {
public:
    UpdateManager& updateManager() const override { return manager; }
    mutable CountingUpdateManager manager;
};

QStringList actionTexts(const QMenu& menu) {
    QStringList texts;
    for (QAction* action : menu.actions()) {
        texts << (action->isSeparator() ? QStringLiteral("--") : action->text());
    }
    return texts;
}

class WindowTest : public ::testing::Test {
protected:
    void makeContext(const std::vector<std::string>& definitions, std::shared_ptr<UpdatingSystem> updating = nullptr) {
        testing::writeDefinitions(bundle, definitions);
        context.loggerFactory = [this](const std::string&) { return logger; };
        context.cleaner = Cleaner::make(context.loggerFactory, velmor::Bundle(velmor::URL::fileURL(bundle.path())));
        context.updatingSystem = std::move(updating);
    }

    void openWindow() {
        window = std::make_unique<CompatibleWindow>(context);
        window->setQuitHandler([this] { ++quits; });
        window->resize(1000, 760);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    // As the program ends: the widgets go first, then the model, on this thread.
    void TearDown() override {
        if (context.cleaner) {
            testing::endCurrentRun(*context.cleaner);
        }
        window.reset();
        context = {};
    }

    velmor::testing::TemporaryDirectory home;
    velmor::testing::TemporaryDirectory bundle;
    std::shared_ptr<velmor::testing::RecordingLogger> logger = std::make_shared<velmor::testing::RecordingLogger>();
    Context context;
    std::unique_ptr<CompatibleWindow> window;
    int quits = 0;
};

TEST_F(WindowTest, OneUntitledWindowWithQuitAndAboutAndTheUpdateCommandWhenThereIsAnUpdatingSystem) {
    auto updating = std::make_shared<CountingUpdatingSystem>();
    makeContext({}, updating);
    openWindow();
    window->contentView().homeView().flush();
    testing::saveScreenshot(*window, "window");

    EXPECT_EQ(window->windowTitle(), "");
    EXPECT_EQ(window->objectName(), "Main");
    EXPECT_GE(window->minimumSizeHint().width(), 900);
    EXPECT_GE(window->minimumSizeHint().height(), 700);
    EXPECT_EQ(actionTexts(window->fileMenu()), QStringList{"&Quit"});
    EXPECT_EQ(window->quitAction().shortcut().toString(), "Ctrl+Q");
    EXPECT_EQ(actionTexts(window->helpMenu()), (QStringList{"&About Marrowdale", "Check for Updates…", "--"}));

    ASSERT_NE(window->checkForUpdatesAction(), nullptr);
    window->checkForUpdatesAction()->trigger();
    window->checkForUpdatesAction()->trigger();
    EXPECT_EQ(updating->manager.checks, 2);

    window->helpMenu().actions().front()->trigger();
    auto* about = window->findChild<QMessageBox*>();
    ASSERT_NE(about, nullptr);
    // Both carry the program's mark.
    EXPECT_FALSE(window->windowIcon().isNull());
    const QImage mark = window->windowIcon().pixmap(64).toImage();
    EXPECT_EQ(mark.width(), mark.height());
    EXPECT_FALSE(about->iconPixmap().isNull());
    testing::saveScreenshot(*about, "window-about");
    about->close();
}

TEST_F(WindowTest, WithoutAnUpdatingSystemThereIsNoUpdateCommandNorItsSeparator) {
    makeContext({});
    openWindow();
    EXPECT_EQ(window->checkForUpdatesAction(), nullptr);
    EXPECT_EQ(actionTexts(window->helpMenu()), QStringList{"&About Marrowdale"});
}

TEST_F(WindowTest, ClosingWithoutARunQuitsAtOnceAndOnlyOnce) {
    makeContext({});
    openWindow();
    window->quitAction().trigger();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->isClosing());
    EXPECT_EQ(quits, 1);
    window->close();
    window->bringToFront();
    EXPECT_FALSE(window->isVisible()) << "a closing window does not come back";
    EXPECT_EQ(quits, 1);
}

TEST_F(WindowTest, ClosingDuringAScanKeepsTheWindowUpUntilTheScanHasEnded) {
    makeContext({testing::definitionEntry("everything", home.path(), testing::deletableCondition)});
    openWindow();
    context.cleaner->scan();
    const velmor::AnyTask run = context.cleaner->currentRun();
    ASSERT_TRUE(run);
    window->contentView().homeView().flush();
    testing::saveScreenshot(*window, "window-scanning");
    // The scan's end needs the event loop, so until it turns the scan is still going.
    window->close();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->isFinishing());
    ASSERT_NE(window->finishingNotice(), nullptr);
    EXPECT_EQ(window->finishingNotice()->text(), "Finishing: Marrowdale quits as soon as the scan has stopped.");
    EXPECT_TRUE(run.wasCancelled());
    EXPECT_EQ(quits, 0) << "quit before the scan ended";
    ASSERT_TRUE(QTest::qWaitFor([this] { return quits == 1; }, 30'000));
    EXPECT_TRUE(run.isFinished());
    EXPECT_FALSE(window->isVisible());
}

TEST_F(WindowTest, ClosingDuringACleanWaitsForItAndTouchesNothingOutsideTheSelection) {
    for (int file = 0; file < 2000; ++file) {
        home.writeFile("selected/" + std::to_string(file / 100) + "/" + std::to_string(file) + ".log", "l");
    }
    home.writeFile("kept/a.log", "keep");
    home.writeFile("kept/b/c.log", "keep");
    makeContext({testing::definitionEntry("logs", home.path(), testing::deletableCondition)});
    openWindow();
    Cleaner& cleaner = *context.cleaner;
    cleaner.scan();
    ASSERT_TRUE(testing::waitForState(cleaner, Kind::scanned));
    const Category category = cleaner.categories().front();
    cleaner.setSelectedIds(category, {home / "selected"});
    cleaner.clean();
    const velmor::AnyTask run = cleaner.currentRun();
    window->contentView().homeView().flush();
    testing::saveScreenshot(*window, "window-cleaning");

    // Closed while the clean runs (its end needs the event loop): the window stays, saying why, and
    // starts nothing new.
    window->close();
    EXPECT_TRUE(window->isVisible()) << "the window went while the clean goes on";
    EXPECT_TRUE(window->isFinishing());
    ASSERT_NE(window->finishingNotice(), nullptr);
    EXPECT_TRUE(window->finishingNotice()->isVisible());
    EXPECT_EQ(window->finishingNotice()->text(), "Finishing: Marrowdale quits when the clean is done.");
    // The band takes a place of its own below the content: the footer, with its volume line, is
    // still all in sight.
    const QWidget& footer = window->contentView().homeView().footer();
    const QRect footerArea(footer.mapTo(window.get(), QPoint(0, 0)), footer.size());
    const QRect bandArea(window->finishingNotice()->mapTo(window.get(), QPoint(0, 0)),
                         window->finishingNotice()->size());
    EXPECT_TRUE(footer.isVisible());
    EXPECT_FALSE(footerArea.intersects(bandArea));
    EXPECT_GT(bandArea.height(), 0);
    EXPECT_LE(bandArea.bottom(), window->rect().bottom());
    EXPECT_FALSE(window->contentView().isEnabled());
    EXPECT_FALSE(window->quitAction().isEnabled());
    testing::saveScreenshot(*window, "window-finishing-clean");
    // A second start of the program brings it forward.
    window->showMinimized();
    window->bringToFront();
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized());
    EXPECT_EQ(quits, 0);

    ASSERT_TRUE(QTest::qWaitFor([this] { return quits == 1; }, 30'000));
    EXPECT_TRUE(run.isFinished());
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->isFinishing());
    window->bringToFront();
    EXPECT_FALSE(window->isVisible()) << "once the run has ended the window is gone for good";
    EXPECT_TRUE(exists(home / "kept/a.log"));
    EXPECT_TRUE(exists(home / "kept/b/c.log"));
    // Whatever the cancelled clean got to lies inside the selection.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(home.path())) {
        const std::string path = entry.path().string();
        EXPECT_TRUE(path.starts_with(home / "selected") || path.starts_with(home / "kept")) << path;
    }
}

} // namespace
} // namespace marrowdale
