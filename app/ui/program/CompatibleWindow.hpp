#pragma once

#include "app/model/context/Context.hpp"

#include <QMainWindow>
#include <QTimer>

#include <functional>

class QAction;
class QLabel;
class QMenu;
class QVBoxLayout;

namespace marrowdale {

class ContentView;

// The program's one window: the home screen under the system's own title bar, with the File and
// Help menus. Its title is empty, so the taskbar shows the program's name.
//
// Closing it quits: a scan or clean still running is cancelled, and the window stays in sight,
// inert and saying that it is finishing, until the run has ended; only then does it go and the quit
// handler run. The event loop turns all the while, so that the run can finish on the main thread,
// and a second start of the program brings the finishing window forward.
class CompatibleWindow : public QMainWindow {
public:
    static constexpr const char* identifier = "Main";

    explicit CompatibleWindow(const Context& context, QWidget* parent = nullptr);

    ContentView& contentView() const { return *content_; }
    QMenu& fileMenu() const { return *fileMenu_; }
    QMenu& helpMenu() const { return *helpMenu_; }
    QAction& quitAction() const { return *quitAction_; }
    // None without an updating system.
    QAction* checkForUpdatesAction() const { return checkForUpdatesAction_; }

    // What an open event does: shows the window and raises it above the others, also while it is
    // finishing; nothing once it has gone.
    void bringToFront();
    // Runs once, when the window has closed and no run is left; quits the application unless set.
    void setQuitHandler(std::function<void()> handler) { quitHandler_ = std::move(handler); }
    bool isClosing() const { return closing_; }
    // Closing, with a run still to end.
    bool isFinishing() const { return closing_ && !ended_; }
    // The line that says why the window stays while finishing; none before.
    const QLabel* finishingNotice() const { return finishing_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    void showAbout();
    void quitOnceRunEnded();
    void showFinishing();

    Context context_;
    ContentView* content_;
    QVBoxLayout* bodyLayout_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QMenu* helpMenu_ = nullptr;
    QAction* quitAction_ = nullptr;
    QAction* checkForUpdatesAction_ = nullptr;
    std::function<void()> quitHandler_;
    bool closing_ = false;
    QLabel* finishing_ = nullptr;
    // Closed, and the run it waited for has ended: the window is gone.
    bool ended_ = false;
    // A task tells nobody when it has ended; while closing, the window looks at short intervals.
    QTimer runEndCheck_;
};

} // namespace marrowdale
