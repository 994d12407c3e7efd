#include "SymbolImageProvider.h"

#include "HarnessSymbols.h"

#include <QPainter>
#include <QSvgRenderer>

using namespace Qt::StringLiterals;

namespace rirudez {

SymbolImageProvider::SymbolImageProvider() : QQuickImageProvider(QQuickImageProvider::Image) {}

QImage SymbolImageProvider::requestImage(const QString &id, QSize *size, const QSize &requestedSize) {
    const QSize target(requestedSize.width() > 0 ? requestedSize.width() : 24,
                       requestedSize.height() > 0 ? requestedSize.height() : 24);
    if (size)
        *size = target;
    const QString key = id + u'@' + QString::number(target.width()) + u'x' + QString::number(target.height());
    {
        const QMutexLocker lock(&m_mutex);
        const auto kept = m_drawn.constFind(key);
        if (kept != m_drawn.cend())
            return *kept;
    }
    QImage image = draw(id, target);
    const QMutexLocker lock(&m_mutex);
    if (m_drawn.size() >= maximumKept)
        m_drawn.clear();
    m_drawn.insert(key, image);
    return image;
}

QImage SymbolImageProvider::draw(const QString &id, QSize target) {
    // The colour is the last path segment; symbol names themselves contain no slash.
    const qsizetype slash = id.lastIndexOf(u'/');
    const QString name = slash < 0 ? id : id.left(slash);
    const QString color = slash < 0 ? u"ff000000"_s : id.mid(slash + 1);

    QImage image(target, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const auto svg = HarnessSymbols::tintedSvg(name, u'#' + color);
    if (!svg)
        return image;
    QSvgRenderer renderer(*svg);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(target)));
    return image;
}

} // namespace rirudez
