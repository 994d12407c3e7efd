#include "TurnImageProvider.h"

#include "DesktopCodingHarnessViewModel.h"

namespace rirudez {

TurnImageProvider::TurnImageProvider(DesktopCodingHarnessViewModel *viewModel)
    : QQuickImageProvider(QQuickImageProvider::Image), m_viewModel(viewModel) {}

QImage TurnImageProvider::requestImage(const QString &id, QSize *size, const QSize &requestedSize) {
    QImage image;
    const qsizetype slash = id.lastIndexOf(u'/');
    bool validIndex = false;
    const qsizetype index = slash < 0 ? -1 : id.mid(slash + 1).toLongLong(&validIndex);
    if (m_viewModel && validIndex && index >= 0) {
        const QString eventID = id.left(slash);
        const auto &events = m_viewModel->visibleSession().events;
        // User turns with images are rare and recent: search from the end.
        for (auto it = events.crbegin(); it != events.crend(); ++it) {
            if (it->id != eventID)
                continue;
            if (index < it->images.size()) {
                if (const auto bytes = it->images.at(index).data())
                    image = QImage::fromData(*bytes, "PNG");
            }
            break;
        }
    }
    if (!image.isNull() && requestedSize.width() > 0 && image.width() > requestedSize.width())
        image = image.scaledToWidth(requestedSize.width(), Qt::SmoothTransformation);
    if (size)
        *size = image.size();
    return image;
}

} // namespace rirudez
