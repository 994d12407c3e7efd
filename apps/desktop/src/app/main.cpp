// rirudez-desktop: one window whose root view owns the coding view model and shows the conversation screen.
// There is no environment or settings file: everything the application uses is fixed. The command line
// knows --help and --version (answered without opening a window or needing a display) and Qt's own options.

#include "FramePacer.h"
#include "RootView.h"
#include "SymbolImageProvider.h"
#include "TurnImageProvider.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QUrl>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(Rirudez_DesktopPlugin)
Q_IMPORT_QML_PLUGIN(Rirudez_BridgeKit_ScannerPlugin)
Q_IMPORT_QML_PLUGIN(Rirudez_ShellPlugin)
Q_IMPORT_QML_PLUGIN(Rirudez_LocalModelsPlugin)

using namespace Qt::StringLiterals;

namespace {

void describeCommandLine(QCommandLineParser &parser) {
    parser.setApplicationDescription(
        u"Rirudez: follow and steer conversations with the coding agents claude and codex through the "
        "Zad Ezarur bridge on this computer (127.0.0.1:8800, state in ~/.derezov-bridge). "
        "Start the bridge with: systemctl --user enable --now zad-ezarur-bridge"_s);
    parser.addHelpOption();
    parser.addVersionOption();
}

// True when the command line asks only for help or the version: those are answered without a display.
bool asksForHelpOrVersion(int argc, char *argv[]) {
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "-h" || argument == "--help" || argument == "-?" || argument == "--help-all" ||
            argument == "-v" || argument == "--version")
            return true;
    }
    return false;
}

void nameApplication() {
    QCoreApplication::setApplicationName(u"rirudez-desktop"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(RIRUDEZ_VERSION));
}

} // namespace

int main(int argc, char *argv[]) {
    if (asksForHelpOrVersion(argc, argv)) {
        QCoreApplication app(argc, argv);
        nameApplication();
        QCommandLineParser parser;
        describeCommandLine(parser);
        parser.process(app); // prints and exits
        return 0;
    }
    QGuiApplication app(argc, argv);
    nameApplication();
    QGuiApplication::setApplicationDisplayName(u"Rirudez"_s);
    QGuiApplication::setDesktopFileName(u"org.rirudez.Desktop"_s);
    {
        // Qt's own options (-platform, -style, ...) are taken by the application; anything else is an error.
        QCommandLineParser parser;
        describeCommandLine(parser);
        parser.process(app);
    }
    // The screen draws its own controls from the Basic style, the same on every platform.
    QQuickStyle::setStyle(u"Basic"_s);

    rirudez::RootView rootView;

    QQmlApplicationEngine engine;
    engine.addImportPath(u"qrc:/qt/qml"_s);
    engine.addImageProvider(u"symbol"_s, new rirudez::SymbolImageProvider);
    engine.addImageProvider(u"turnimage"_s, new rirudez::TurnImageProvider(rootView.codingViewModel()));
    engine.setInitialProperties({{u"rootView"_s, QVariant::fromValue(static_cast<QObject *>(&rootView))}});
    const QUrl mainUrl(u"qrc:/qt/qml/Rirudez/Desktop/Main.qml"_s);
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreated, &app,
        [mainUrl](QObject *object, const QUrl &url) {
            if (!object && url == mainUrl)
                QCoreApplication::exit(1);
        },
        Qt::QueuedConnection);
    engine.load(mainUrl);
    // A window drawn in software gets one clock for its frames; with GL the display's sync is the clock.
    std::unique_ptr<rirudez::FramePacer> pacer;
    if (!engine.rootObjects().isEmpty())
        pacer = rirudez::FramePacer::paceIfSoftware(
            qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst()));
    return app.exec();
}
