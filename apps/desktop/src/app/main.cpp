// rirudez-desktop: one window whose root view owns the coding view model and shows the conversation screen.
// There is no command line, environment or settings file: everything the application uses is fixed.

#include "RootView.h"
#include "SymbolImageProvider.h"
#include "TurnImageProvider.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QUrl>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(Rirudez_DesktopPlugin)

using namespace Qt::StringLiterals;

int main(int argc, char *argv[]) {
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(u"Rirudez"_s);
    QGuiApplication::setApplicationDisplayName(u"Rirudez"_s);
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
    return app.exec();
}
