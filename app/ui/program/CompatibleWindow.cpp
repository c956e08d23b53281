#include "app/ui/program/CompatibleWindow.hpp"

#include "app/ui/assets/Assets.hpp"
#include "app/ui/home/ContentView.hpp"
#include "app/ui/text/Localized.hpp"
#include "app/ui/update/UpdateManager.hpp"
#include "platform/concurrency/MainActor.hpp"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QMenuBar>
#include <QMessageBox>
#include <QVBoxLayout>

#include <utility>

namespace marrowdale {
namespace {

// The brand logo's mark, the square at its left, without the name beside it.
QIcon applicationIcon() {
    QIcon icon;
    for (const qreal scale : {1.0, 2.0, 4.0}) {
        const QImage logo = assets::brandLogo.image(scale);
        if (!logo.isNull()) {
            icon.addPixmap(QPixmap::fromImage(logo.copy(0, 0, logo.height(), logo.height())));
        }
    }
    return icon;
}

} // namespace

CompatibleWindow::CompatibleWindow(const Context& context, QWidget* parent)
    : QMainWindow(parent), context_(context), content_(new ContentView(context_)) {
    velmor::MainActor::assertIsolated();
    setObjectName(identifier);
    setWindowTitle(QString());
    setWindowIcon(applicationIcon());
    // The content and, below it once the window is closed during a run, the finishing band: the
    // band takes a place of its own, so it covers none of the content.
    auto* body = new QWidget;
    bodyLayout_ = new QVBoxLayout(body);
    bodyLayout_->setContentsMargins(0, 0, 0, 0);
    bodyLayout_->setSpacing(0);
    bodyLayout_->addWidget(content_, 1);
    setCentralWidget(body);
    buildMenus();
    runEndCheck_.setInterval(10);
    connect(&runEndCheck_, &QTimer::timeout, this, &CompatibleWindow::quitOnceRunEnded);
    quitHandler_ = [] { QCoreApplication::quit(); };
}

void CompatibleWindow::buildMenus() {
    // No New item: there is only ever this one window.
    fileMenu_ = menuBar()->addMenu(localized("Menu.File"));
    quitAction_ = fileMenu_->addAction(localized("Menu.Quit"), this, &QWidget::close);
    // Not the standard Quit key: some desktops bind none, and Ctrl+Q is what this program promises.
    quitAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quitAction_->setMenuRole(QAction::QuitRole);

    helpMenu_ = menuBar()->addMenu(localized("Menu.Help"));
    QAction* about = helpMenu_->addAction(localized("Menu.About"), this, &CompatibleWindow::showAbout);
    about->setMenuRole(QAction::AboutRole);
    if (context_.updatingSystem) {
        checkForUpdatesAction_ = helpMenu_->addAction(localized("cleaner.checkForUpdates"), this, [this] {
            context_.updatingSystem->updateManager().checkForUpdates();
        });
        helpMenu_->addSeparator();
    }
}

void CompatibleWindow::showAbout() {
    auto* box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    box->setWindowTitle(localized("About.Title"));
    box->setText(localized("About.Version %@", QCoreApplication::applicationVersion().toStdString()));
    box->setIconPixmap(windowIcon().pixmap(64));
    box->addButton(QMessageBox::Ok);
    box->open();
}

void CompatibleWindow::bringToFront() {
    if (closing_ && !isFinishing()) {
        return; // gone, and the program is ending
    }
    if (isMinimized()) {
        showNormal();
    } else {
        show();
    }
    raise();
    activateWindow();
}

void CompatibleWindow::closeEvent(QCloseEvent* event) {
    // The window and the model stay until the run has ended: a window gone from sight would hide
    // a program still deleting, and a second start would find nothing to show.
    event->ignore();
    if (closing_) {
        return;
    }
    closing_ = true;
    if (const velmor::AnyTask& run = context_.cleaner->currentRun(); run && !run.isFinished()) {
        showFinishing(); // before the cancel, while the state still tells a scan from a clean
        run.cancel();
        runEndCheck_.start();
        return;
    }
    quitOnceRunEnded();
}

void CompatibleWindow::showFinishing() {
    // Nothing new may start; a line across the window's foot says why it stays.
    content_->setEnabled(false);
    quitAction_->setEnabled(false);
    // A clean is never cut short, so the program waits for its end; a scan stops at once.
    const bool cleaning = context_.cleaner->state().kind == Cleaner::State::Kind::cleaning;
    finishing_ = new QLabel(localized(cleaning ? "Window.Finishing.Clean" : "Window.Finishing.Scan"));
    finishing_->setTextFormat(Qt::PlainText);
    finishing_->setAlignment(Qt::AlignCenter);
    finishing_->setAutoFillBackground(true);
    QPalette colors = finishing_->palette();
    colors.setColor(QPalette::Window, palette().color(QPalette::Highlight));
    colors.setColor(QPalette::WindowText, palette().color(QPalette::HighlightedText));
    finishing_->setPalette(colors);
    finishing_->setMinimumHeight(finishing_->sizeHint().height() + 12);
    bodyLayout_->addWidget(finishing_);
    finishing_->show();
    bodyLayout_->activate();
}

void CompatibleWindow::quitOnceRunEnded() {
    if (const velmor::AnyTask& run = context_.cleaner->currentRun(); run && !run.isFinished()) {
        return;
    }
    runEndCheck_.stop();
    ended_ = true;
    hide();
    if (auto handler = std::exchange(quitHandler_, nullptr)) {
        handler();
    }
}

} // namespace marrowdale
