// The main of the interface tests: one application for the whole run, drawn offscreen, so that
// every machine (and CI, which has no display) draws the same pictures.

#include "app/ui/look/DarkLook.hpp"
#include "app/ui/runtime/QtMainExecutor.hpp"
#include "platform/bundle/Bundle.hpp"

#include <QApplication>
#include <QFont>
#include <QLocale>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

int main(int argc, char** argv) {
    // Set before the application exists: the platform, the language and the clock are read once.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    ::setenv("LC_ALL", "C.UTF-8", 1);
    ::unsetenv("LANGUAGE");
    // The texts come from the bundle the build lays out beside the program.
    ::setenv(velmor::Bundle::mainBundleEnvironmentKey, MARROWDALE_BUNDLE_DIR, 1);

    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    // A font every machine has (fonts-dejavu-core), so pictures do not depend on the desktop.
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 10));
    marrowdale::applyDarkLook(application);
    // As in the program: the executor is in place before any model object is made.
    velmor::MainActor::install(std::make_shared<marrowdale::QtMainExecutor>());

    const int status = RUN_ALL_TESTS();
    velmor::MainActor::uninstall();
    return status;
}
