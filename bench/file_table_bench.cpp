// Shows a folder of 1,000,000 files, scanned into one category, in the file table of an offscreen
// window, and times opening it (first drawing, largest first) and re-sorting it by Name, Size and
// Last opened. In the same run, the peers: `LC_ALL=C sort` of the same names, `sort -n -r` of the
// same sizes and `LC_ALL=C ls -tu` of the folder (which, like the Last opened sort, reads each
// entry's status once). Best of three each. Then a selection change on the table bound to the
// cleaner's selection, with the header's selected size drawn anew, which should take under 16 ms
// (one frame) however many rows there are. An optional argument sets the number of files.
#include "app/model/cleaner/Cleaner.hpp"
#include "app/ui/header/Header.hpp"
#include "app/ui/look/DarkLook.hpp"
#include "app/ui/runtime/QtMainExecutor.hpp"
#include "app/ui/table/FileSelector.hpp"
#include "app/ui/table/FileTableModel.hpp"
#include "bench/BestOf.hpp"
#include "bench/ShellCommand.hpp"
#include "foundation/core/log/OSLogLogger.hpp"

#include <QApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QTreeView>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int runs = 3;

std::uint64_t mix(std::uint64_t value) {
    value += 0x9E3779B97F4A7C15ULL;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ULL;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBULL;
    return value ^ (value >> 31);
}

void fail(const char* what) {
    std::perror(what);
    std::exit(1);
}

// The folder of files with scattered names, lengths (as holes, so they cost no disk) and access
// times, with a bundle whose one definition finds them all; both go with the object.
class Fixture {
public:
    explicit Fixture(int count) {
        root_ = "/tmp/velmor-table-bench-XXXXXX";
        if (::mkdtemp(root_.data()) == nullptr) {
            fail("mkdtemp");
        }
        folder_ = root_ + "/files";
        ::mkdir(folder_.c_str(), 0755);
        int dir = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        std::ofstream names(root_ + "/names.txt");
        std::ofstream sizes(root_ + "/sizes.txt");
        char name[64];
        for (int index = 0; index < count; ++index) {
            const std::uint64_t random = mix(static_cast<std::uint64_t>(index));
            std::snprintf(name, sizeof name, "%016llx-%d.dat", static_cast<unsigned long long>(random), index);
            int file = ::openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (file < 0 || ::ftruncate(file, static_cast<off_t>(random % 50'000'000)) != 0) {
                fail("creating a file");
            }
            struct timespec times[2] = {{static_cast<time_t>(1'000'000'000 + random % 600'000'000), 0},
                                        {0, UTIME_OMIT}};
            ::futimens(file, times);
            ::close(file);
            names << name << '\n';
            sizes << random % 50'000'000 << '\n';
        }
        ::close(dir);
        const std::string bundle = root_ + "/bundle/Resources";
        std::filesystem::create_directories(bundle);
        std::ofstream(bundle + "/parameters-categories.plist")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict><key>categories</key><array>"
               "<dict><key>id</key><string>bigFiles</string><key>type</key><string>custom</string>"
               "<key>paths</key><array><string>"
            << folder_
            << "</string></array><key>deleteEmptyFolders</key><false/><key>conditions</key>"
               "<dict><key>fileIsDeletable</key><dict/></dict><key>engines</key><array>"
               "<dict><key>fileTraversal</key><dict/></dict></array></dict></array></dict></plist>";
    }
    ~Fixture() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    const std::string& root() const { return root_; }
    const std::string& folder() const { return folder_; }

private:
    std::string root_;
    std::string folder_;
};

void draw(marrowdale::FileSelector& selector) {
    QApplication::processEvents();
    selector.grab();
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 1'000'000;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    marrowdale::applyDarkLook(application);
    velmor::MainActor::install(std::make_shared<marrowdale::QtMainExecutor>());

    std::printf("making %d files...\n", count);
    std::fflush(stdout);
    Fixture fixture(count);
    auto cleaner = marrowdale::Cleaner::make(velmor::OSLogLogger::factory(),
                                             velmor::Bundle(velmor::URL::fileURL(fixture.root() + "/bundle")));
    const auto scanStart = std::chrono::steady_clock::now();
    cleaner->scan();
    while (cleaner->state().kind != marrowdale::Cleaner::State::Kind::scanned) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    const auto& result = cleaner->state().results.at(marrowdale::Category::largeFiles);
    if (!std::holds_alternative<marrowdale::CleanableNodes>(result) ||
        std::get<marrowdale::CleanableNodes>(result).size() != static_cast<std::size_t>(count)) {
        std::fprintf(stderr, "the scan did not find every file\n");
        return 1;
    }
    // The folder's files are the category's rows.
    std::vector<sweepkit::FileSystemItem> scanned;
    for (const auto& node : std::get<marrowdale::CleanableNodes>(result)) {
        scanned.push_back(std::get<sweepkit::FileSystemItem>(node->payload()));
    }
    std::printf("scan: %.3f s\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - scanStart).count());

    double open = 1e9, byName = 1e9, bySize = 1e9, byDate = 1e9;
    for (int run = 0; run < runs; ++run) {
        // Fresh rows each run: nothing a node keeps (names, sizes, children) is carried over.
        marrowdale::CleanableNodes rows;
        rows.reserve(scanned.size());
        for (const auto& node : scanned) {
            rows.push_back(marrowdale::CleanableNode::item(node));
        }
        std::unique_ptr<marrowdale::FileSelector> selector;
        open = std::min(open, bench::bestSeconds(1, [&] {
            selector = std::make_unique<marrowdale::FileSelector>(rows, cleaner->errorStore(),
                                                                  marrowdale::SelectionBinding{});
            selector->resize(1000, 700);
            selector->show();
            draw(*selector);
        }));
        if (selector->model().rowCount() != count) {
            std::fprintf(stderr, "the table does not show every file\n");
            return 1;
        }
        auto sortBy = [&](marrowdale::FileTableColumn column) {
            return bench::bestSeconds(1, [&] {
                selector->applyHeaderSort(marrowdale::columnComparator(column));
                draw(*selector);
            });
        };
        byName = std::min(byName, sortBy(marrowdale::FileTableColumn::name));
        bySize = std::min(bySize, sortBy(marrowdale::FileTableColumn::size));
        byDate = std::min(byDate, sortBy(marrowdale::FileTableColumn::lastOpened));
        selector.reset();
        rows.clear();
        QApplication::processEvents(); // rows go on the main thread
    }

    // A click on one row after another, as the user selects, on the cleaner's own rows: the
    // cleaner resolves the ids and the header shows their size.
    double selectionChange = 1e9;
    double largeSelectionToggle = 1e9;
    {
        const auto& rows = std::get<marrowdale::CleanableNodes>(result);
        marrowdale::SelectionBinding binding{
            [&]() -> const std::unordered_set<std::string>& {
                return cleaner->selectedIds(marrowdale::Category::largeFiles);
            },
            [&](const marrowdale::SelectionChange& change) {
                cleaner->changeSelectedIds(marrowdale::Category::largeFiles, change);
            },
            [&] { return cleaner->selectionRevision(); }};
        marrowdale::FileSelector selector(rows, cleaner->errorStore(), std::move(binding));
        selector.resize(1000, 700);
        selector.show();
        marrowdale::Header header(cleaner);
        header.show();
        draw(selector);
        QItemSelectionModel& selection = *selector.view().selectionModel();
        for (int click = 0; click < 5; ++click) {
            const QModelIndex row = selector.model().index(click * 7, 0);
            selectionChange = std::min(selectionChange, bench::bestSeconds(1, [&] {
                selection.select(row, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
                header.flush();
            }));
        }
        if (cleaner->selectedSize() != selector.model().node(selector.model().index(28, 0))->size()) {
            std::fprintf(stderr, "the header does not show the selection\n");
            return 1;
        }
        // Every row selected, then one row toggled off and on again, as a ctrl-click does: the
        // cost of the toggle is the one row's, not the whole selection's.
        selection.select(QItemSelection(selector.model().index(0, 0),
                                        selector.model().index(selector.model().rowCount() - 1,
                                                               marrowdale::fileTableColumnCount - 1)),
                         QItemSelectionModel::ClearAndSelect);
        header.flush();
        if (cleaner->selectedIds(marrowdale::Category::largeFiles).size() !=
            static_cast<std::size_t>(selector.model().rowCount())) {
            std::fprintf(stderr, "not every row is selected\n");
            return 1;
        }
        for (int click = 0; click < 10; ++click) {
            const QModelIndex row = selector.model().index(click * 11, 0);
            largeSelectionToggle = std::min(largeSelectionToggle, bench::bestSeconds(1, [&] {
                selection.select(row, QItemSelectionModel::Toggle | QItemSelectionModel::Rows);
                header.flush();
            }));
            selection.select(row, QItemSelectionModel::Toggle | QItemSelectionModel::Rows);
            header.flush();
        }
        cleaner->setSelectedIds(marrowdale::Category::largeFiles, {});
    }
    QApplication::processEvents();

    const double sortNames = bench::bestSeconds(runs, bench::shellCommand("LC_ALL=C sort '" + fixture.root() +
                                                                          "/names.txt' > /dev/null"));
    const double sortSizes =
        bench::bestSeconds(runs, bench::shellCommand("sort -n -r '" + fixture.root() + "/sizes.txt' > /dev/null"));
    const double listByAccess =
        bench::bestSeconds(runs, bench::shellCommand("LC_ALL=C ls -tu '" + fixture.folder() + "' > /dev/null"));

    std::printf("files: %d, best of %d\n", count, runs);
    std::printf("open (largest first):   %.3f s\n", open);
    std::printf("re-sort by Name:        %.3f s\n", byName);
    std::printf("re-sort by Size:        %.3f s\n", bySize);
    std::printf("re-sort by Last opened: %.3f s\n", byDate);
    std::printf("selection change:       %.3f ms (target under 16 ms)\n", selectionChange * 1000);
    std::printf("one-row toggle, all %d selected: %.3f ms (target under 10 ms)\n", count,
                largeSelectionToggle * 1000);
    std::printf("LC_ALL=C sort names:    %.3f s\n", sortNames);
    std::printf("sort -n -r sizes:       %.3f s\n", sortSizes);
    std::printf("LC_ALL=C ls -tu:        %.3f s\n", listByAccess);
    std::printf("ratio open / sort -n -r: %.2f\n", open / sortSizes);
    std::printf("ratio name sort / sort: %.2f\n", byName / sortNames);
    std::printf("ratio size sort / sort -n -r: %.2f\n", bySize / sortSizes);
    std::printf("ratio last opened sort / ls -tu: %.2f\n", byDate / listByAccess);
    velmor::MainActor::uninstall();
    return 0;
}
