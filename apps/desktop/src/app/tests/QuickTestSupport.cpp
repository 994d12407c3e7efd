#include "QuickTestSupport.h"

#include "FramePacer.h"
#include "SymbolImageProvider.h"
#include "TurnImageProvider.h"

#include "DesktopCodingBridgeClient.h"
#include "DesktopCodingBridgeHealthSource.h"
#include "DesktopCodingHarnessViewModel.h"
#include "FollowingBridgeSource.h"

#include "rirudez/bridgekit/BridgeClient.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QQuickStyle>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

Q_IMPORT_QML_PLUGIN(Rirudez_DesktopPlugin)
Q_IMPORT_QML_PLUGIN(Rirudez_BridgeKit_ScannerPlugin)
Q_IMPORT_QML_PLUGIN(Rirudez_ShellPlugin)
Q_IMPORT_QML_PLUGIN(Rirudez_LocalModelsPlugin)

using namespace Qt::StringLiterals;

namespace rirudez::testing {

bool waitUntil(const std::function<bool()> &condition, std::chrono::milliseconds deadline) {
    QDeadlineTimer timer(deadline);
    while (!condition()) {
        if (timer.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

ScreenHarness::ScreenHarness(RootView &rootView, int width, int height)
    : m_engine(std::make_unique<QQmlApplicationEngine>()) {
    m_engine->addImportPath(u"qrc:/qt/qml"_s);
    m_engine->addImageProvider(u"symbol"_s, new SymbolImageProvider);
    m_engine->addImageProvider(u"turnimage"_s, new TurnImageProvider(rootView.codingViewModel()));
    m_engine->setInitialProperties({{u"rootView"_s, QVariant::fromValue(static_cast<QObject *>(&rootView))}});
    m_engine->load(QUrl(u"qrc:/qt/qml/Rirudez/Desktop/Main.qml"_s));
    if (!m_engine->rootObjects().isEmpty())
        m_window = qobject_cast<QQuickWindow *>(m_engine->rootObjects().constFirst());
    m_pacer = FramePacer::paceIfSoftware(m_window);
    if (m_window) {
        m_window->resize(width, height);
        m_window->show();
        [[maybe_unused]] const bool exposed = QTest::qWaitForWindowExposed(m_window);
        settle();
    }
}

ScreenHarness::~ScreenHarness() {
    m_pacer.reset();
    if (m_window)
        m_window->close();
    m_engine.reset();
    // The scene graph releases its textures through deferred deletes.
    for (int round = 0; round < 3; ++round) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

static void collect(QQuickItem *item, const QString &name, QList<QQuickItem *> &found, bool onlyVisible) {
    if (!item)
        return;
    if (item->objectName() == name && (!onlyVisible || item->isVisible()))
        found.append(item);
    const auto children = item->childItems();
    for (QQuickItem *child : children)
        collect(child, name, found, onlyVisible);
}

QQuickItem *ScreenHarness::find(const QString &objectName) const {
    if (!m_window)
        return nullptr;
    QList<QQuickItem *> found;
    collect(m_window->contentItem(), objectName, found, false);
    for (QQuickItem *item : found) {
        if (item->isVisible())
            return item;
    }
    return found.isEmpty() ? nullptr : found.constFirst();
}

QList<QQuickItem *> ScreenHarness::findAll(const QString &objectName) const {
    QList<QQuickItem *> found;
    if (m_window)
        collect(m_window->contentItem(), objectName, found, true);
    return found;
}

bool ScreenHarness::isOnScreen(QQuickItem *item) const {
    if (!item || !item->isVisible() || !m_window)
        return false;
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    return QRectF(0, 0, m_window->width(), m_window->height()).contains(centre);
}

bool ScreenHarness::click(const QString &objectName) {
    return click(find(objectName));
}

bool ScreenHarness::click(QQuickItem *item) {
    if (!isOnScreen(item))
        return false;
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    settle();
    return true;
}

void ScreenHarness::type(const QString &text) {
    for (const QChar c : text)
        QTest::keyClick(m_window, c.toLatin1());
    settle();
}

void ScreenHarness::resize(int width, int height) {
    m_window->resize(width, height);
    settle();
}

void ScreenHarness::settle() {
    if (!m_window)
        return;
    QCoreApplication::processEvents();
    m_window->contentItem()->polish();
    QCoreApplication::processEvents();
    // Rendering a frame runs polish and layout of every item.
    [[maybe_unused]] QImage frame = m_window->grabWindow();
    QCoreApplication::processEvents();
}

bool ScreenHarness::grab(const QString &path) {
    settle();
    return m_window && m_window->grabWindow().save(path);
}

void destroyRootView(std::unique_ptr<RootView> &rootView) {
    if (!rootView)
        return;
    const std::shared_ptr<const bool> running = rootView->startupTaskRunning();
    rootView.reset();
    EXPECT_TRUE(waitUntil([&] { return !*running; })) << "the start-up task outlived its view model";
}

QString text(QQuickItem *item, const char *property) {
    return item ? item->property(property).toString() : QString();
}

} // namespace rirudez::testing

// Leaks inside Qt that the screen tests cannot avoid: Qt Quick keeps the images of its pixmap cache and their
// scene-graph textures referenced after the last window and engine are gone, and never frees them at exit.
// Also the system libraries of the shared suppression list (fonts, GL, D-Bus).
extern "C" const char *__lsan_default_suppressions() {
    return "leak:libQt6Gui.so\n"
           "leak:libQt6Quick.so\n"
           "leak:libfontconfig\n"
           "leak:libdbus\n"
           "leak:libEGL\n"
           "leak:libGLX\n"
           "leak:libgallium\n"
           "leak:swrast\n";
}

// One QGuiApplication for the whole test program (offscreen through QT_QPA_PLATFORM from CTest).
int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QQuickStyle::setStyle(u"Basic"_s);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

namespace rirudez::testing {

RootView::ViewModelFactory localBridgeViewModel(const QString &stateDirectory, std::function<int()> port,
                                                QList<DesktopCodingProject> projects,
                                                DesktopCodingModelCatalog catalog) {
    return [stateDirectory, port = std::move(port), projects = std::move(projects),
            catalog = std::move(catalog)] {
        auto source = std::make_shared<FollowingBridgeSource>(stateDirectory, port);
        return std::make_unique<DesktopCodingHarnessViewModel>(
            projects, catalog, source, source,
            std::make_shared<LocalDesktopCodingBridgeSessionRecencySource>(stateDirectory),
            std::make_shared<DesktopCodingBridgeClientAdapter>(std::make_shared<BridgeClient>()));
    };
}

RootView::ViewModelFactory localBridgeViewModel(const QString &stateDirectory, int port) {
    return localBridgeViewModel(stateDirectory, [port] { return port; });
}

} // namespace rirudez::testing
