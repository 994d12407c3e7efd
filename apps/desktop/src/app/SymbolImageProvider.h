#pragma once

// Draws the screen's named symbols for QML: `image://symbol/<name>/<aarrggbb>` renders the symbol's
// bundled SVG in that colour at the requested size (24 x 24 when none is requested). Every row of the
// conversation shows symbols, and rows are created as they scroll into view, so each drawing is kept: the
// screen uses a few dozen symbol, colour and size combinations in all.

#include <QHash>
#include <QMutex>
#include <QQuickImageProvider>

namespace rirudez {

class SymbolImageProvider : public QQuickImageProvider {
public:
    SymbolImageProvider();
    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;

private:
    static QImage draw(const QString &id, QSize target);

    // More drawings than this means sizes or colours that change without end: start over.
    static constexpr qsizetype maximumKept = 512;
    QMutex m_mutex; // images may be requested from loader threads
    QHash<QString, QImage> m_drawn;
};

} // namespace rirudez
