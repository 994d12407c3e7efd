// LocalModelsView offscreen over a view model wired to rirudez-local-server in-process: the screen refreshes
// when shown and shows progress, its rows follow the server, the provider rows, the address field with Enter,
// Ctrl+R, and the error line. Writes the reachable and unreachable states as PNGs (RIRUDEZ_SCREENSHOT_DIR).

#include "LocalModelsViewModel.h"

#include "LocalControlPlaneServer.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QNetworkAccessManager>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

Q_IMPORT_QML_PLUGIN(Rirudez_LocalModelsPlugin)

using namespace Qt::StringLiterals;

namespace rirudez {
namespace {

constexpr int deadlineMs = 10'000;

void collect(QQuickItem *item, const QString &name, QList<QQuickItem *> &found) {
    if (!item)
        return;
    if (item->objectName() == name)
        found.append(item);
    for (QQuickItem *child : item->childItems())
        collect(child, name, found);
}

class LocalModelsViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        QFile tool(tools.path() + u"/claude"_s);
        ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
        tool.write("#!/bin/sh\necho '{\"email\": \"ada@example.org\"}'\n");
        tool.close();
        tool.setPermissions(QFile::ReadOwner | QFile::ExeOwner);

        localserver::LocalServerOptions options;
        options.port = 0;
        options.requirePairing = true;
        options.pairingCode = u"482913"_s;
        options.cliSearchPath = {tools.path()};
        server = std::make_unique<localserver::LocalControlPlaneServer>(options);
        ASSERT_TRUE(server->start());
        ASSERT_TRUE(QTest::qWaitFor([&] { return server->probe().hasRun(); }, deadlineMs));

        auto source = std::make_shared<ControlPlaneLocalHealthSource>(
            LocalHealthClient(std::make_shared<QNetworkAccessManager>()));
        vm = std::make_unique<LocalModelsViewModel>(
            LocalProviderOption::claude, u"http://127.0.0.1:%1"_s.arg(server->port()), std::nullopt, source,
            std::nullopt, std::nullopt, [] { return false; });
        engine = std::make_unique<QQmlApplicationEngine>();
        engine->addImportPath(u"qrc:/qt/qml"_s);
        engine->setInitialProperties(
            {{u"viewModel"_s, QVariant::fromValue(static_cast<QObject *>(vm.get()))}});
        engine->loadData(R"(
            import QtQuick
            import QtQuick.Window
            import Rirudez.LocalModels
            Window {
                id: window
                required property LocalModelsViewModel viewModel
                width: 720; height: 900; visible: true
                LocalModelsView { anchors.fill: parent; viewModel: window.viewModel }
            })");
        ASSERT_FALSE(engine->rootObjects().isEmpty());
        window = qobject_cast<QQuickWindow *>(engine->rootObjects().constFirst());
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    }
    void TearDown() override {
        engine.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    QQuickItem *find(const QString &name) const {
        QList<QQuickItem *> found;
        collect(window->contentItem(), name, found);
        return found.isEmpty() ? nullptr : found.constFirst();
    }
    QString mark(const QString &row) const {
        QList<QQuickItem *> found;
        collect(find(row), u"statusMark"_s, found);
        return found.isEmpty() ? QString() : found.constFirst()->property("text").toString();
    }
    void click(const QString &name) {
        QQuickItem *item = find(name);
        ASSERT_NE(item, nullptr) << name.toStdString();
        const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    }
    bool refreshed(int count) {
        return QTest::qWaitFor([&] { return vm->refreshCount() >= count && !vm->isRefreshing(); },
                               deadlineMs);
    }
    void shoot(const QString &name) {
        QString dir = qEnvironmentVariable("RIRUDEZ_SCREENSHOT_DIR");
        if (dir.isEmpty())
            dir = QDir::currentPath() + u"/screenshots"_s;
        QDir().mkpath(dir);
        const QImage image = window->grabWindow();
        EXPECT_EQ(image.size(), QSize(720, 900) * window->devicePixelRatio());
        EXPECT_TRUE(image.save(dir + u'/' + name + u".png"_s));
    }

    QTemporaryDir tools;
    std::unique_ptr<localserver::LocalControlPlaneServer> server;
    std::unique_ptr<LocalModelsViewModel> vm;
    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow *window = nullptr;
};

TEST_F(LocalModelsViewTest, RefreshesWhenShownAndFollowsTheServer) {
    ASSERT_TRUE(refreshed(1)) << vm->errorText().toStdString();
    EXPECT_EQ(mark(u"statusRow_reachable"_s), u"✓"_s);
    EXPECT_EQ(mark(u"statusRow_provider"_s), u"✓"_s);
    EXPECT_TRUE(find(u"statusRow_pairing"_s)->isVisible());
    EXPECT_FALSE(find(u"errorLine"_s)->isVisible());
    EXPECT_FALSE(find(u"refreshProgress"_s)->isVisible());
    EXPECT_EQ(find(u"helperButton"_s)->property("text").toString(), u"Helper Running"_s);
    EXPECT_FALSE(find(u"helperButton"_s)->isEnabled());
    EXPECT_EQ(find(u"guidanceHeadline"_s)->property("text").toString(), u"Server on this computer"_s);
    shoot(u"local-models-reachable"_s);

    // The other provider: the server still uses Claude.
    click(u"providerRow_codex"_s);
    EXPECT_EQ(vm->selectedProvider(), LocalProviderOption::codex);
    EXPECT_EQ(mark(u"statusRow_provider"_s), u"✗"_s);
    click(u"providerRow_claude"_s);

    // Ctrl+R refreshes, with progress while it runs.
    QTest::keyClick(window, Qt::Key_R, Qt::ControlModifier);
    EXPECT_TRUE(find(u"refreshProgress"_s)->isVisible());
    ASSERT_TRUE(refreshed(2));
    EXPECT_FALSE(find(u"refreshProgress"_s)->isVisible());
}

TEST_F(LocalModelsViewTest, TypedAddressIsCheckedOnEnterAndFailuresAreExplained) {
    ASSERT_TRUE(refreshed(1));
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    QQuickItem *field = find(u"baseURLField"_s);
    ASSERT_NE(field, nullptr);
    click(u"baseURLField"_s);
    ASSERT_TRUE(field->hasActiveFocus());
    QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier);
    for (const QChar c : u"127.0.0.1:%1"_s.arg(closedPort))
        QTest::keyClick(window, c.toLatin1());
    QTest::keyClick(window, Qt::Key_Return);
    ASSERT_TRUE(refreshed(2));
    EXPECT_EQ(vm->baseURL(), u"http://127.0.0.1:%1"_s.arg(closedPort));
    EXPECT_EQ(mark(u"statusRow_reachable"_s), u"✗"_s);
    EXPECT_FALSE(find(u"statusRow_pairing"_s)->isVisible());
    QQuickItem *error = find(u"errorLine"_s);
    EXPECT_TRUE(error->isVisible());
    EXPECT_TRUE(error->property("text").toString().startsWith(u"Could not reach the server"_s))
        << error->property("text").toString().toStdString();
    shoot(u"local-models-unreachable"_s);

    // An emptied address says what is missing.
    click(u"baseURLField"_s);
    QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(window, Qt::Key_Backspace);
    click(u"refreshButton"_s);
    ASSERT_TRUE(refreshed(3));
    EXPECT_EQ(vm->lastError(), LocalModelsViewModel::FetchError::baseURLMissing());
    EXPECT_EQ(find(u"guidanceHeadline"_s)->property("text").toString(), u"No server address yet"_s);
}

} // namespace
} // namespace rirudez

extern "C" const char *__lsan_default_suppressions() {
    return "leak:libQt6Gui.so\nleak:libQt6Quick.so\nleak:libfontconfig\nleak:libdbus\n";
}

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QQuickStyle::setStyle(u"Basic"_s);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
