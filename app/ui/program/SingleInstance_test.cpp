// One program per desktop session, on a private session bus: open events reach the one window, and a
// second start of the real program hands over and ends.

#include "app/ui/program/SingleInstance.hpp"

#include "app/model/testing/DefinitionsBundle.hpp"
#include "foundation/core/log/RecordingLogger.hpp"
#include "platform/testing/InfoPlist.hpp"
#include "platform/testing/PrivateBus.hpp"

#include <QApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcess>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <csignal>

namespace marrowdale {
namespace {

const QString name = QStringLiteral("com.velmor.MarrowdaleTest");

class OnPrivateBus : public ::testing::Test {
protected:
    void SetUp() override {
        if (bus.address().empty()) {
            GTEST_SKIP() << bus.failure();
        }
    }

    // A connection of its own, as another process would have.
    QDBusConnection connect(const QString& connectionName) {
        QDBusConnection connection = QDBusConnection::connectToBus(QString::fromStdString(bus.address()), connectionName);
        EXPECT_TRUE(connection.isConnected()) << connection.lastError().message().toStdString();
        connections << connectionName;
        return connection;
    }

    void TearDown() override {
        for (const QString& connection : connections) {
            QDBusConnection::disconnectFromBus(connection);
        }
    }

    velmor::testing::PrivateBus bus;
    std::shared_ptr<velmor::testing::RecordingLogger> logger = std::make_shared<velmor::testing::RecordingLogger>();
    QStringList connections;
};

TEST_F(OnPrivateBus, EveryOpenEventOnlyBringsTheOneWindowForward) {
    QWidget window;
    int activations = 0;
    {
        SingleInstance first(connect("first"), name, logger);
        ASSERT_EQ(first.role(), SingleInstance::Role::primary);
        first.setActivationHandler([&] {
            ++activations;
            window.show();
        });
        const int windowsBefore = QApplication::topLevelWidgets().size();

        // A second start of the program, and the desktop calling each method directly.
        SingleInstance second(connect("second"), name, logger);
        EXPECT_EQ(second.role(), SingleInstance::Role::secondary);
        EXPECT_TRUE(second.forward({"file:///etc/passwd", "https://example.invalid/x", "not a uri at all"}));
        EXPECT_TRUE(second.forward({}));
        QDBusConnection desktop = connect("desktop");
        QDBusMessage action = QDBusMessage::createMethodCall(name, SingleInstance::objectPath(name),
                                                             SingleInstance::interfaceName, "ActivateAction");
        action << QString("quit") << QVariantList{QVariant::fromValue(QDBusVariant(1))} << QVariantMap();
        EXPECT_EQ(desktop.call(action, QDBus::BlockWithGui).type(), QDBusMessage::ReplyMessage) << desktop.lastError().message().toStdString();

        EXPECT_EQ(activations, 3);
        EXPECT_TRUE(window.isVisible());
        EXPECT_EQ(QApplication::topLevelWidgets().size(), windowsBefore) << "an open event made a window";
        EXPECT_TRUE(logger->lines().empty());
        EXPECT_EQ(SingleInstance::objectPath(name), "/com/velmor/MarrowdaleTest");
    }
    // Once the first has gone, the name is free for the next start.
    SingleInstance next(connect("next"), name, logger);
    EXPECT_EQ(next.role(), SingleInstance::Role::primary);
}

TEST_F(OnPrivateBus, ASecondStartWhoseFirstDoesNotAnswerReportsWhy) {
    // The name is taken by a connection that serves no application object.
    QDBusConnection squatter = connect("squatter");
    ASSERT_TRUE(squatter.registerService(name));
    SingleInstance second(connect("second"), name, logger);
    ASSERT_EQ(second.role(), SingleInstance::Role::secondary);
    EXPECT_FALSE(second.forward({"file:///tmp"}));
    ASSERT_EQ(logger->lines().size(), 1U);
    EXPECT_TRUE(logger->lines().front().starts_with("error: The running program (com.velmor.MarrowdaleTest) did not "
                                                     "take the open request: "))
        << logger->lines().front();
}

TEST(SingleInstanceWithoutABus, RunsAloneAndSaysSoOnce) {
    auto logger = std::make_shared<velmor::testing::RecordingLogger>();
    SingleInstance alone(QDBusConnection(QStringLiteral("never connected")), name, logger);
    EXPECT_EQ(alone.role(), SingleInstance::Role::alone);
    ASSERT_EQ(logger->lines().size(), 1U);
    EXPECT_TRUE(logger->lines().front().starts_with("default: No session bus")) << logger->lines().front();
}

// The program itself, offscreen, with a bundle of the test's own.
class Program : public OnPrivateBus {
protected:
    void SetUp() override {
        OnPrivateBus::SetUp();
        if (IsSkipped()) {
            return;
        }
        velmor::testing::writeInfoPlist(
            programBundle, "<key>CFBundleIdentifier</key><string>" + name.toStdString() +
                               "</string><key>CFBundleName</key><string>Marrowdale</string>"
                               "<key>CFBundleShortVersionString</key><string>1.0</string>"
                               "<key>CFBundleVersion</key><string>1</string>");
        testing::writeDefinitions(programBundle, {});
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromStdString(bus.address()));
        environment.insert("VELMOR_MAIN_BUNDLE", QString::fromStdString(programBundle.path()));
        environment.insert("HOME", QString::fromStdString(home.path()));
        environment.insert("XDG_CONFIG_HOME", QString::fromStdString(home / ".config"));
        environment.insert("XDG_CACHE_HOME", QString::fromStdString(home / ".cache"));
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(home.path()));
        for (QProcess* process : {&first, &second}) {
            process->setProcessEnvironment(environment);
            process->setProgram(QStringLiteral(MARROWDALE_PROGRAM));
            process->setProcessChannelMode(QProcess::ForwardedChannels);
        }
        watcher = connect("watcher");
    }

    void TearDown() override {
        for (QProcess* process : {&first, &second}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(10'000);
            }
        }
        OnPrivateBus::TearDown();
    }

    velmor::testing::TemporaryDirectory programBundle;
    velmor::testing::TemporaryDirectory home;
    QProcess first;
    QProcess second;
    QDBusConnection watcher{QString()};
};

TEST_F(Program, ASecondStartHandsOverAndEndsAndTheFirstEndsCleanlyOnSigterm) {
    first.start();
    ASSERT_TRUE(first.waitForStarted(10'000)) << first.errorString().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher.interface()->isServiceRegistered(name).value(); }, 60'000))
        << "the program never took its name on the bus";
    EXPECT_EQ(watcher.interface()->servicePid(name).value(), static_cast<uint>(first.processId()));

    second.setArguments({"file:///tmp/anything"});
    second.start();
    ASSERT_TRUE(second.waitForFinished(60'000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_EQ(watcher.interface()->servicePid(name).value(), static_cast<uint>(first.processId()));

    ASSERT_EQ(::kill(static_cast<pid_t>(first.processId()), SIGTERM), 0);
    ASSERT_TRUE(first.waitForFinished(60'000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
}

} // namespace
} // namespace marrowdale
