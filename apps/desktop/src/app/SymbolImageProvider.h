#pragma once

// Draws the screen's named symbols for QML: `image://symbol/<name>/<aarrggbb>` renders the symbol's
// bundled SVG in that colour at the requested size (24 x 24 when none is requested).

#include <QQuickImageProvider>

namespace rirudez {

class SymbolImageProvider : public QQuickImageProvider {
public:
    SymbolImageProvider();
    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;
};

} // namespace rirudez
