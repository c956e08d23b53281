// Update checks against a real HTTPS server on 127.0.0.1, from the menu's call to the message box.

#include "app/ui/update/SparkleUpdateManager.hpp"
#include "app/ui/update/SparkleUpdatingSystem.hpp"
#include "app/ui/update/testing/FeedServer.hpp"
#include "app/ui/testing/Screenshots.hpp"
#include "foundation/core/log/RecordingLogger.hpp"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>

#include <gtest/gtest.h>

namespace marrowdale {
namespace {

using Kind = UpdateOutcome::Kind;
using Answer = testing::FeedServer::Answer;

const QByteArray framework = "xmlns:sparkle=\"urn:test:update-framework\"";

QByteArray feed(const QByteArray& items) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\" " + framework +
           "><channel><title>Marrowdale</title>" + items + "</channel></rss>\n";
}

QByteArray item(const QByteArray& version, const QByteArray& display = {},
                const QByteArray& address = "https://downloads.example/Marrowdale.tar.gz") {
    QByteArray enclosure = "<enclosure url=\"" + address + "\" sparkle:version=\"" + version + "\"";
    if (!display.isEmpty()) {
        enclosure += " sparkle:shortVersionString=\"" + display + "\"";
    }
    return "<item><title>Release</title>" + enclosure + " length=\"1\" type=\"application/octet-stream\"/></item>";
}

class UpdateChecks : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server.failure().isEmpty()) {
            GTEST_SKIP() << server.failure().toStdString();
        }
    }

    void TearDown() override {
        if (manager && manager->alert()) {
            manager->alert()->close();
        }
    }

    // The program's own settings, trusting the server's certificate instead of the system's
    // authorities.
    UpdateFeedChecker::Settings settings(std::optional<QString> address, bool trusted = true) {
        UpdateFeedChecker::Settings settings;
        settings.feedAddress = [address] { return address; };
        settings.runningVersion = "1.2";
        settings.runningDisplayVersion = "1.2";
        if (trusted) {
            settings.trustedCertificates = {server.certificate()};
        }
        return settings;
    }

    std::shared_ptr<SparkleUpdateManager> make(UpdateFeedChecker::Settings settings) {
        manager = std::make_shared<SparkleUpdateManager>(logger, std::move(settings));
        manager->setAddressOpener([this](const QUrl& address) {
            opened.push_back(address);
            return false;
        });
        return manager;
    }

    // Runs one check from the updating system, as the menu does, and waits for its message box.
    QMessageBox* check() {
        SparkleUpdatingSystem system(manager);
        system.updateManager().checkForUpdates();
        EXPECT_TRUE(QTest::qWaitFor([this] { return manager->alert() != nullptr; }, 20'000)) << "no outcome shown";
        return manager->alert();
    }

    // In a fixed order: the box lays its buttons out by role.
    static QStringList buttons(const QMessageBox& box) {
        QStringList texts;
        for (QAbstractButton* button : box.buttons()) {
            texts << button->text();
        }
        texts.sort();
        return texts;
    }

    testing::FeedServer server;
    std::shared_ptr<velmor::testing::RecordingLogger> logger = std::make_shared<velmor::testing::RecordingLogger>();
    std::shared_ptr<SparkleUpdateManager> manager;
    std::vector<QUrl> opened;
};

TEST_F(UpdateChecks, EachFeedGivesOneOutcomeItsTextAndItsLogLines) {
    const QByteArray bomb =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE rss [\n<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">\n"
        "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">\n"
        "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">\n"
        "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">\n"
        "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">\n]>\n<rss version=\"2.0\" " +
        framework + "><channel><title>&e;</title>" + item("9") + "</channel></rss>";
    struct Case {
        const char* name;
        QString path;
        Answer answer;
        Kind kind;
        // The message box's text and a piece of its informative text.
        QString text;
        QString detail;
        QStringList buttons;
        // Pieces of the log lines, in order.
        std::vector<std::string> log;
        bool trusted = true;
        std::optional<QString> address = std::nullopt;
        std::chrono::milliseconds limit{30'000};
    };
    const std::vector<Case> cases = {
        {"newer", "/feed",
         {200,
          feed(item("1.1") + item("1.10", "1.10 (spring)") + item("1.9") +
               "<item><sparkle:version>1.3</sparkle:version><enclosure url=\"https://d.example/1.3\"/></item>"),
          {}, false},
         Kind::updateFound, "Version 1.10 (spring) is available.", "You have version 1.2.", {"Download", "Close"}, {}},
        {"newer, plain http download", "/feed",
         {200, feed(item("2", {}, "http://downloads.example/Marrowdale.tar.gz")), {}, false},
         Kind::updateFound, "Version 2 is available.", "You have version 1.2.", {"Close"}, {}},
        {"newer, https download without a host", "/feed",
         {200, feed(item("2", {}, "https:///etc/passwd")), {}, false},
         Kind::updateFound, "Version 2 is available.", "You have version 1.2.", {"Close"}, {}},
        {"version as an element, display from an element", "/feed",
         {200,
          feed("<item><sparkle:version>7.0</sparkle:version><sparkle:shortVersionString>7 Final"
               "</sparkle:shortVersionString><enclosure url=\"https://d.example/7\"/></item>"),
          {}, false},
         Kind::updateFound, "Version 7 Final is available.", "", {"Download", "Close"}, {}},
        {"same version", "/feed", {200, feed(item("1.2.0")), {}, false}, Kind::upToDate,
         "You are up to date.", "Version 1.2 is the newest version available.", {"OK"},
         {"info: Updater did not find update: Version 1.2 is the newest version available."}},
        {"older versions", "/feed", {200, feed(item("1.1") + item("0.9")), {}, false}, Kind::upToDate,
         "You are up to date.", "Version 1.2 is the newest", {"OK"}, {"info: Updater did not find update: "}},
        {"no item", "/feed", {200, feed(""), {}, false}, Kind::upToDate, "You are up to date.", "newest", {"OK"},
         {"info: Updater did not find update: "}},
        {"404", "/feed", {404, "gone", {}, false}, Kind::failed, "The check for updates failed.",
         "HTTP status 404 Not Found", {"OK"}, {"error: Updater failed checking for updates: The update feed answered with HTTP status 404"}},
        {"not XML", "/feed", {200, "{\"version\": \"9\"}", {}, false}, Kind::failed,
         "The check for updates failed.", "not readable XML", {"OK"}, {"error: Updater failed checking for updates: "}},
        {"not RSS", "/feed", {200, "<html><body>9</body></html>", {}, false}, Kind::failed,
         "The check for updates failed.", "not an RSS feed (its root element is <html>)", {"OK"},
         {"error: Updater failed checking for updates: "}},
        {"items without readable versions", "/feed",
         {200, feed("<item><enclosure url=\"https://d.example/x\"/></item>" + item("9.x") +
                    "<item><version>9</version></item>"), {}, false},
         Kind::failed, "The check for updates failed.", "None of the 3 items", {"OK"},
         {"error: Updater skipped an item: Update feed item 1 has no version",
          "error: Updater skipped an item: Update feed item 2 has a version that is not dot-separated numbers: \"9.x\"",
          "error: Updater skipped an item: Update feed item 3 has no version",
          "error: Updater failed checking for updates: None of the 3 items"}},
        {"one unreadable item beside a newer one", "/feed", {200, feed(item("beta") + item("3")), {}, false},
         Kind::updateFound, "Version 3 is available.", "", {"Download", "Close"},
         {"error: Updater skipped an item: Update feed item 1 has a version that is not"}},
        {"untrusted certificate", "/feed", {200, feed(item("9")), {}, false}, Kind::failed,
         "The check for updates failed.", "could not be fetched", {"OK"},
         {"error: Updater failed checking for updates: The update feed could not be fetched: "}, false},
        {"http address", "", {}, Kind::failed, "The check for updates failed.",
         "not an https address: http://127.0.0.1/feed", {"OK"}, {"error: Updater failed checking for updates: "},
         true, QString("http://127.0.0.1/feed")},
        {"redirect within https", "/moved", {302, {}, "/feed-new", false}, Kind::updateFound,
         "Version 5 is available.", "", {"Download", "Close"}, {}},
        {"redirect to http", "/moved-out", {302, {}, "http://127.0.0.1/feed", false}, Kind::failed,
         "The check for updates failed.", "redirected to an address that is not https: http://127.0.0.1/feed",
         {"OK"}, {"error: Updater failed checking for updates: "}},
        {"six redirects", "/hop1", {302, {}, "/hop2", false}, Kind::failed, "The check for updates failed.",
         "redirected more than 5 times", {"OK"}, {"error: Updater failed checking for updates: "}},
        // Told, but not logged: a build without a feed is no failure.
        {"no address", "", {}, Kind::noFeed, "The check for updates failed.", "no update feed address", {"OK"},
         {}, true, std::nullopt},
        {"body over the limit", "/feed", {200, QByteArray((1 << 20) + 1, 'x'), {}, false}, Kind::failed,
         "The check for updates failed.", "larger than 1048576 bytes", {"OK"},
         {"error: Updater failed checking for updates: "}},
        {"server that never answers", "/feed", {200, {}, {}, true}, Kind::failed, "The check for updates failed.",
         "did not answer within 0.3 seconds", {"OK"}, {"error: Updater failed checking for updates: "}, true,
         std::nullopt, std::chrono::milliseconds(300)},
        {"entity bomb", "/feed", {200, bomb, {}, false}, Kind::failed, "The check for updates failed.",
         "not readable XML", {"OK"}, {"error: Updater failed checking for updates: "}},
    };
    server.answer("/feed-new", {200, feed(item("5")), {}, false});
    for (int hop = 2; hop <= 7; ++hop) {
        server.answer(QStringLiteral("/hop%1").arg(hop), {302, {}, "/hop" + QByteArray::number(hop + 1), false});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        logger = std::make_shared<velmor::testing::RecordingLogger>();
        std::optional<QString> address = c.address;
        if (!c.path.isEmpty()) {
            server.answer(c.path, c.answer);
            address = server.address(c.path);
        }
        UpdateFeedChecker::Settings configured = settings(address, c.trusted);
        configured.transferLimit = c.limit;
        make(std::move(configured));
        QMessageBox* box = check();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), c.text);
        EXPECT_TRUE(box->informativeText().contains(c.detail)) << box->informativeText().toStdString();
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        QStringList expectedButtons = c.buttons;
        expectedButtons.sort();
        EXPECT_EQ(buttons(*box), expectedButtons);
        const std::vector<std::string> lines = logger->lines();
        ASSERT_EQ(lines.size(), c.log.size()) << (lines.empty() ? "" : lines.front());
        for (std::size_t at = 0; at < lines.size(); ++at) {
            EXPECT_TRUE(lines[at].starts_with(c.log[at])) << lines[at];
        }
        for (const char* pictured : {"newer", "same version", "404", "no address"}) {
            if (std::string(c.name) == pictured) {
                testing::saveScreenshot(*box, QStringLiteral("update-%1").arg(QString(pictured).replace(' ', '-')));
            }
        }
        box->close();
        manager.reset();
    }
}

TEST_F(UpdateChecks, AskingAgainWhileACheckRunsStartsNoSecondOneAndTheNextCommandChecksAnew) {
    server.answer("/feed", {200, feed(item("1.2")), {}, false});
    make(settings(server.address("/feed")));
    EXPECT_FALSE(manager->hasUpdaterController());
    EXPECT_EQ(manager->updateChannel(), UpdateChannel::dogfooding);

    manager->checkForUpdates();
    UpdateFeedChecker* controller = &manager->updaterController();
    EXPECT_TRUE(controller->isChecking());
    manager->checkForUpdates();
    ASSERT_TRUE(QTest::qWaitFor([this] { return manager->alert() != nullptr; }, 20'000));
    EXPECT_EQ(server.requests(), 1);
    manager->alert()->close();
    ASSERT_TRUE(QTest::qWaitFor([this] { return manager->alert() == nullptr; }, 20'000));

    manager->checkForUpdates();
    ASSERT_TRUE(QTest::qWaitFor([this] { return manager->alert() != nullptr; }, 20'000));
    EXPECT_EQ(server.requests(), 2);
    EXPECT_EQ(&manager->updaterController(), controller);
    EXPECT_EQ(logger->lines(), (std::vector<std::string>(
                                   2, "info: Updater did not find update: Version 1.2 is the newest version available.")));
}

TEST_F(UpdateChecks, AManagerGoneDuringACheckHearsNothingMore) {
    server.answer("/feed", {200, {}, {}, true});
    make(settings(server.address("/feed")));
    manager->checkForUpdates();
    ASSERT_TRUE(QTest::qWaitFor([this] { return server.requests() == 1; }, 20'000));
    manager.reset();
    // Whatever the network still delivers finds no one to call.
    QTest::qWait(100);
    EXPECT_TRUE(logger->lines().empty());
}

TEST_F(UpdateChecks, DownloadOpensTheReleaseAddressAndLogsWhenNothingOpensIt) {
    server.answer("/feed", {200, feed(item("4.1", "4.1 (autumn)")), {}, false});
    make(settings(server.address("/feed")));
    QMessageBox* box = check();
    ASSERT_NE(box, nullptr);
    QAbstractButton* download = nullptr;
    for (QAbstractButton* button : box->buttons()) {
        if (button->text() == "Download") {
            download = button;
        }
    }
    ASSERT_NE(download, nullptr);
    download->click();
    ASSERT_EQ(opened.size(), 1U);
    EXPECT_EQ(opened.front(), QUrl("https://downloads.example/Marrowdale.tar.gz"));
    ASSERT_EQ(logger->lines().size(), 1U);
    EXPECT_EQ(logger->lines().front(), "error: Updater failed downloading item 4.1: No program opened the "
                                       "release's address https://downloads.example/Marrowdale.tar.gz");

    // An address with nothing to reach never gets to the opener, whoever calls.
    manager->download(UpdateItem{"5", "5", QUrl("https:///etc/passwd", QUrl::StrictMode)});
    EXPECT_EQ(opened.size(), 1U);
    ASSERT_EQ(logger->lines().size(), 2U);
    EXPECT_EQ(logger->lines().back(),
              "error: Updater failed downloading item 5: The release's address is not an https address: https:///etc/passwd");
}

TEST_F(UpdateChecks, EndlessHeadersAndBodiesEndTheCheckAtTheirLimits) {
    struct Case {
        const char* name;
        Answer::Endless endless;
        QString detail;
    };
    const std::vector<Case> cases = {
        {"endless headers", Answer::Endless::headers, "response headers are larger than 65536 bytes"},
        {"endless body", Answer::Endless::body, "larger than 1048576 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int ended = server.endlessEnded();
        server.answer("/endless", {200, {}, {}, false, c.endless});
        make(settings(server.address("/endless")));
        QMessageBox* box = check();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), "The check for updates failed.");
        EXPECT_TRUE(box->informativeText().contains(c.detail)) << box->informativeText().toStdString();
        // The client left long before the server would have stopped.
        ASSERT_TRUE(QTest::qWaitFor([&] { return server.endlessEnded() > ended; }, 20'000));
        EXPECT_LT(server.endlessSent(), testing::FeedServer::endlessLimit);
        box->close();
        manager.reset();
    }
}

} // namespace
} // namespace marrowdale
