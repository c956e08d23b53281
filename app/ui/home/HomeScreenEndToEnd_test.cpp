// Scans, selects and cleans a fixture home through the widgets alone, as a user would.

#include "app/model/testing/DefinitionsBundle.hpp"
#include "app/ui/header/Header.hpp"
#include "app/ui/header/ScanButton.hpp"
#include "app/ui/home/CategoriesSelector.hpp"
#include "app/ui/home/CategoryView.hpp"
#include "app/ui/home/ContentView.hpp"
#include "app/ui/home/HomeView.hpp"
#include "app/ui/home/MainBox.hpp"
#include "app/ui/table/FileSelector.hpp"
#include "app/ui/table/FileTableModel.hpp"
#include "app/ui/testing/CleanerRuns.hpp"
#include "app/ui/testing/DoubleClickInterval.hpp"
#include "app/ui/testing/Screenshots.hpp"
#include "foundation/core/log/RecordingLogger.hpp"

#include <QLabel>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

namespace marrowdale {
namespace {

using Kind = Cleaner::State::Kind;
using velmor::testing::exists;

// Sixty days back: well past the thirty days the old-downloads definition asks for.
void makeOld(const std::string& path) {
    timespec times[2];
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= 60L * 24 * 3600;
    times[1] = times[0];
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string notModifiedInLast(long long seconds) {
    return "<dict><key>fileNotModifiedInLast</key><dict><key>seconds</key><integer>" +
           std::to_string(seconds) + "</integer></dict></dict>";
}

class HomeScreenEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        for (const auto& [path, text] : files) {
            home.writeFile(path, text);
        }
        for (const char* path : {"Downloads/old-folder/a.txt", "Downloads/old-folder/b.txt",
                                 "Downloads/old.zip", "Downloads/old-folder"}) {
            makeOld(home / path);
        }
        testing::writeDefinitions(
            bundle,
            {testing::definitionEntry("bigFiles", home.path(), testing::largerThanCondition(5000)),
             testing::definitionEntry("caches", home / ".cache", testing::deletableCondition),
             testing::definitionEntry("logs", home / "logs", testing::deletableCondition),
             testing::definitionEntry("downloads", home / "Downloads", notModifiedInLast(30L * 24 * 3600)),
             testing::definitionEntry("trash", home / ".local/share/Trash", testing::deletableCondition)});
        context.loggerFactory = [this](const std::string&) { return logger; };
        context.cleaner =
            Cleaner::make(context.loggerFactory, velmor::Bundle(velmor::URL::fileURL(bundle.path())));
        content = std::make_unique<ContentView>(context);
        content->resize(1000, 760);
        content->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(content.get()));
    }

    void TearDown() override { testing::endCurrentRun(*context.cleaner); }

    HomeView& screen() { return content->homeView(); }

    void step(const char* picture) {
        screen().flush();
        QTest::qWait(0);
        testing::saveScreenshot(*content, picture);
    }

    CategoryView& tile(Category category) {
        for (CategoryView* tile : screen().categoriesSelector().tiles()) {
            if (tile->category() == category) {
                return *tile;
            }
        }
        throw std::logic_error("no tile");
    }

    // The row named `name` anywhere in the table, made on the way down.
    QModelIndex row(const QString& name, const QModelIndex& parent = {}) {
        FileTableModel& model = screen().mainBox().fileSelector()->model();
        if (model.canFetchMore(parent)) {
            model.fetchMore(parent);
        }
        for (int at = 0; at < model.rowCount(parent); ++at) {
            const QModelIndex index = model.index(at, 0, parent);
            if (index.data().toString() == name) {
                return index;
            }
            if (model.hasChildren(index)) {
                if (const QModelIndex found = row(name, index); found.isValid()) {
                    return found;
                }
            }
        }
        return {};
    }

    void ctrlClick(const QModelIndex& index) {
        QTreeView& view = screen().mainBox().fileSelector()->view();
        view.scrollTo(index);
        QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::ControlModifier,
                          view.visualRect(index).center());
    }

    const std::map<std::string, std::string> files{
        {"Videos/movie.mkv", std::string(9000, 'm')},
        {".cache/app/blob", std::string(300, 'c')},
        {".cache/web/data", std::string(200, 'w')},
        {"logs/app.log", std::string(100, 'l')},
        {"Downloads/old-folder/a.txt", std::string(400, 'a')},
        {"Downloads/old-folder/b.txt", std::string(500, 'b')},
        {"Downloads/old.zip", std::string(600, 'z')},
        {"Downloads/fresh.txt", std::string(50, 'f')},
        {".local/share/Trash/files/gone.txt", std::string(70, 't')},
    };
    velmor::testing::TemporaryDirectory home;
    velmor::testing::TemporaryDirectory bundle;
    std::shared_ptr<velmor::testing::RecordingLogger> logger =
        std::make_shared<velmor::testing::RecordingLogger>();
    // The clicks here are separate presses, however soon one follows a change of the scan button.
    testing::DoubleClickInterval doubleClickInterval{0};
    Context context;
    std::unique_ptr<ContentView> content;
};

TEST_F(HomeScreenEndToEnd, ScansSelectsAndCleansThroughTheWidgets) {
    Cleaner& cleaner = *context.cleaner;
    step("e2e-1-start");

    QTest::mouseClick(&screen().header().scanButton(), Qt::LeftButton);
    ASSERT_TRUE(testing::waitForState(cleaner, Kind::scanned));
    step("e2e-2-scanned");
    EXPECT_EQ(tile(Category::largeFiles).sizeText(), "9 kB");
    EXPECT_FALSE(tile(Category::junkFiles).sizeText().isEmpty());
    EXPECT_FALSE(tile(Category::oldFiles).sizeText().isEmpty());

    QTest::mouseClick(&tile(Category::oldFiles), Qt::LeftButton);
    step("e2e-3-old-files");
    ASSERT_EQ(screen().mainBox().content(), MainBox::Content::table);
    const QModelIndex folder = row("old-folder");
    ASSERT_TRUE(folder.isValid());
    screen().mainBox().fileSelector()->view().expand(folder);
    step("e2e-4-folder-open");
    EXPECT_TRUE(row("a.txt", folder).isValid());
    EXPECT_FALSE(row("fresh.txt").isValid()) << "a recent download is not old";

    ctrlClick(folder);
    ctrlClick(row("old.zip"));
    step("e2e-5-selected");
    EXPECT_EQ(cleaner.selectedCleanableItemsIdsByCategory().at(Category::oldFiles),
              (std::unordered_set<std::string>{home / "Downloads/old-folder", home / "Downloads/old.zip"}));
    // The folder counts in whole blocks, so the figure depends on the file system; it is not zero.
    EXPECT_TRUE(screen().header().status().text().startsWith("Selected: "));
    EXPECT_NE(screen().header().status().text(), "Selected: Zero kB");

    // Between the scan and the clean another file takes the selected item's place.
    home.writeFile("Downloads/old.zip.new", "replaced");
    ASSERT_EQ(::rename((home / "Downloads/old.zip.new").c_str(), (home / "Downloads/old.zip").c_str()), 0);

    QTest::mouseClick(&screen().header().scanButton(), Qt::LeftButton);
    ASSERT_TRUE(testing::waitForState(cleaner, Kind::scanned));
    step("e2e-6-cleaned");

    // The definition keeps emptied folders; what the folder held is gone.
    EXPECT_FALSE(exists(home / "Downloads/old-folder/a.txt"));
    EXPECT_FALSE(exists(home / "Downloads/old-folder/b.txt"));
    EXPECT_EQ(contents(home / "Downloads/old.zip"), "replaced");
    for (const auto& [path, text] : files) {
        if (path.starts_with("Downloads/old")) {
            continue;
        }
        EXPECT_EQ(contents(home / path), text) << path;
    }
    EXPECT_FALSE(row("old-folder").isValid());
    const QModelIndex kept = row("old.zip");
    ASSERT_TRUE(kept.isValid());
    EXPECT_TRUE(kept.data(FileTableModel::badgeRole).toBool());
    EXPECT_TRUE(kept.data(Qt::ToolTipRole).toString().contains("changed since the scan"));
}

} // namespace
} // namespace marrowdale
