#include "app/ui/table/FileManagerReveal.hpp"

#include "app/ui/testing/Screenshots.hpp"
#include "platform/log/CaptureSink.hpp"
#include "platform/testing/PrivateBus.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <QDBusConnectionInterface>
#include <QMessageBox>
#include <QObject>
#include <QStringList>

#include <QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace marrowdale {
namespace {

// Stands in for the desktop's file manager on the test's bus.
class FileManagerService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QStringList shownUris;
    QString startupId = QStringLiteral("unset");

public slots:
    void ShowItems(const QStringList& uris, const QString& startup) {
        shownUris = uris;
        startupId = startup;
    }
};

class FileManagerRevealTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (bus.address().empty()) {
            GTEST_SKIP() << "no private session bus: " << bus.failure();
        }
        client =
            QDBusConnection::connectToBus(QString::fromStdString(bus.address()), QStringLiteral("client"));
        ASSERT_TRUE(client.isConnected()) << client.lastError().message().toStdString();
    }
    void TearDown() override {
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        QDBusConnection::disconnectFromBus(QStringLiteral("file-manager"));
    }

    velmor::testing::PrivateBus bus;
    velmor::testing::TemporaryDirectory tmp;
    QDBusConnection client{QString()};
};

TEST_F(FileManagerRevealTest, TheFileManagerGetsTheExactUriOfTheEntry) {
    FileManagerService service;
    auto manager =
        QDBusConnection::connectToBus(QString::fromStdString(bus.address()), QStringLiteral("file-manager"));
    ASSERT_TRUE(manager.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &service,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(manager.registerService(QStringLiteral("org.freedesktop.FileManager1")));

    // A name that is no UTF-8 keeps its byte in the uri.
    const auto url = velmor::URL::fileURL(tmp / "a\xFF"
                                                "b");
    revealInFileManager(url, client);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !service.shownUris.isEmpty(); }, 10'000));
    EXPECT_EQ(service.shownUris, QStringList{QString::fromStdString("file://" + tmp.path() + "/a%FFb")});
    EXPECT_EQ(service.startupId, QString());
}

TEST_F(FileManagerRevealTest, WithoutAFileManagerTheParentFolderIsOpened) {
    // An xdg-open of our own, first on the path, notes what it was asked to open.
    const std::string opened = tmp / "opened";
    const std::string script =
        tmp.writeFile("bin/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > " + opened + ".part && mv " + opened +
                                          ".part " + opened + "\n");
    ASSERT_EQ(::chmod(script.c_str(), 0755), 0);
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (tmp / "bin:" + path).c_str(), 1);

    revealInFileManager(velmor::URL::fileURL(tmp / "dir with space/a\xFF"
                                                   "b"),
                        client);
    const bool ran = QTest::qWaitFor([&] { return velmor::testing::exists(opened); }, 10'000);
    ::setenv("PATH", path.c_str(), 1);
    ASSERT_TRUE(ran);
    std::stringstream text;
    text << std::ifstream(opened).rdbuf();
    EXPECT_EQ(text.str(), "file://" + tmp.path() + "/dir%20with%20space/");
}

TEST_F(FileManagerRevealTest, WhenNothingCanShowTheEntryTheFailureIsLoggedAndTold) {
    struct Case {
        const char* name;
        const char* opener; // the script of an xdg-open first on the path, or none at all
        const char* logged;
    };
    const Case cases[] = {
        {"missing", nullptr, "xdg-open"},
        // What xdg-open does on a desktop that has no handler: it starts, then fails.
        {"no-method", "echo \"xdg-open: no method available for opening '$1'\" >&2; exit 3",
         "(exit status 3: xdg-open: no method available for opening 'file://"},
        {"killed", "kill -KILL $$", "(it crashed)"},
    };
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bin = tmp.makeDirectory(std::string("bin-") + c.name);
        if (c.opener) {
            const std::string script = tmp.writeFile(std::string("bin-") + c.name + "/xdg-open",
                                                     std::string("#!/bin/sh\n") + c.opener + "\n");
            ASSERT_EQ(::chmod(script.c_str(), 0755), 0);
        }
        auto sink = std::make_shared<velmor::log::CaptureSink>();
        auto original = velmor::log::LogSink::install(sink);
        ::setenv("PATH", bin.c_str(), 1);

        QWidget window;
        window.resize(500, 300);
        window.show();
        revealInFileManager(velmor::URL::fileURL(tmp / "lost\x1b.txt"), client, &window);
        const bool logged = QTest::qWaitFor([&] { return !sink->entries().empty(); }, 10'000);
        ::setenv("PATH", path.c_str(), 1);
        velmor::log::LogSink::install(original);
        ASSERT_TRUE(logged) << "nothing was logged";
        const auto entry = sink->entries().front();
        EXPECT_EQ(entry.category, "FileSelector");
        EXPECT_EQ(entry.type, velmor::log::LogType::error);
        EXPECT_NE(entry.message.find(tmp / "lost\x1b.txt"), std::string::npos) << entry.message;
        EXPECT_NE(entry.message.find(c.logged), std::string::npos) << entry.message;

        // The user sees it too, with the entry's path as it is drawn.
        auto* box = window.findChild<QMessageBox*>();
        ASSERT_NE(box, nullptr) << "nothing visible happened";
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        EXPECT_EQ(box->text(), "No file manager could show the item.");
        EXPECT_TRUE(box->informativeText().endsWith(QString::fromStdString(tmp / "lost") +
                                                    QChar::ReplacementCharacter + ".txt"))
            << box->informativeText().toStdString();
        testing::saveScreenshot(*box, QStringLiteral("file-manager-reveal-failed-") + QString::fromUtf8(c.name));
        box->close();
    }
}

} // namespace
} // namespace marrowdale

#include "FileManagerReveal_test.moc"
