#include "DesktopCanvasReplayPageImages.h"

#include <QPainter>

#include <algorithm>

namespace rirudez {

DesktopCanvasReplayPageImages::DesktopCanvasReplayPageImages(QObject *parent) : QObject(parent) {
    m_pool.setMaxThreadCount(1);
}

DesktopCanvasReplayPageImages::~DesktopCanvasReplayPageImages() {
    // A drawing in progress posts its image to this object: it must end before this object does.
    m_asks.clear();
    m_pool.waitForDone();
}

void DesktopCanvasReplayPageImages::setByteLimit(qsizetype bytes) {
    m_byteLimit = std::max<qsizetype>(bytes, 0);
    evict();
}

QImage DesktopCanvasReplayPageImages::find(const Key &key) {
    for (Entry &entry : m_images)
        if (entry.key == key) {
            entry.used = ++m_clock;
            return entry.image;
        }
    return {};
}

void DesktopCanvasReplayPageImages::request(const Key &key, Drawing drawing) {
    if (key.pixels.isEmpty() || m_drawing == key)
        return;
    if (std::any_of(m_images.cbegin(), m_images.cend(), [&](const Entry &e) { return e.key == key; }))
        return;
    if (std::any_of(m_asks.cbegin(), m_asks.cend(), [&](const Ask &a) { return a.key == key; }))
        return;
    m_asks.push_back({key, std::move(drawing)});
    startNext();
}

void DesktopCanvasReplayPageImages::cancel(const Key &key) {
    std::erase_if(m_asks, [&](const Ask &a) { return a.key == key; });
}

void DesktopCanvasReplayPageImages::clear() {
    m_asks.clear();
    m_images.clear();
    m_byteCount = 0;
}

void DesktopCanvasReplayPageImages::startNext() {
    if (m_drawing || m_asks.empty())
        return;
    Ask ask = std::move(m_asks.front());
    m_asks.erase(m_asks.begin());
    m_drawing = ask.key;
    m_pool.start([this, key = ask.key, drawing = std::move(ask.drawing)] {
        QImage image(key.pixels, QImage::Format_ARGB32_Premultiplied);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            drawing(painter);
        }
        QMetaObject::invokeMethod(
            this, [this, key, image] { finished(key, image); }, Qt::QueuedConnection);
    });
}

void DesktopCanvasReplayPageImages::finished(const Key &key, const QImage &image) {
    m_drawing.reset();
    m_images.push_back({key, image, ++m_clock});
    m_byteCount += image.sizeInBytes();
    evict();
    Q_EMIT imageReady(key, image);
    startNext();
}

void DesktopCanvasReplayPageImages::evict() {
    while (m_byteCount > m_byteLimit && !m_images.empty()) {
        const auto oldest = std::min_element(m_images.begin(), m_images.end(),
                                             [](const Entry &a, const Entry &b) { return a.used < b.used; });
        m_byteCount -= oldest->image.sizeInBytes();
        m_images.erase(oldest);
    }
}

} // namespace rirudez
