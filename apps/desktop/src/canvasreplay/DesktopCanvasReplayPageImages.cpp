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

void DesktopCanvasReplayPageImages::drawFirstPagesAtOnce(int count) {
    m_atOnce.clear();
    for (int page = 0; page < count; ++page)
        m_atOnce.push_back(page);
}

bool DesktopCanvasReplayPageImages::isHeld(int page) const {
    return std::find(m_atOnce.cbegin(), m_atOnce.cend(), page) != m_atOnce.cend();
}

void DesktopCanvasReplayPageImages::settle(const Key &key, bool inView) {
    if (std::erase(m_atOnce, key.page) == 0)
        return;
    const auto ask = std::find_if(m_asks.begin(), m_asks.end(), [&](const Ask &a) { return a.key == key; });
    if (inView && ask != m_asks.end()) {
        const Drawing drawing = std::move(ask->drawing);
        m_asks.erase(ask);
        finished(key, draw(key, drawing), false);
        return;
    }
    startNext();
}

void DesktopCanvasReplayPageImages::cancel(const Key &key) {
    // A held page given up before its item settled it (the item went away) no longer keeps the worker
    // waiting.
    if (std::erase_if(m_asks, [&](const Ask &a) { return a.key == key; }) > 0 && isHeld(key.page))
        startNext();
}

void DesktopCanvasReplayPageImages::clear() {
    m_asks.clear();
    m_images.clear();
    m_byteCount = 0;
}

void DesktopCanvasReplayPageImages::startNext() {
    // The first pages wait until their items know whether they are in view (settle), and the worker waits
    // with them: it would take the processor from the UI thread drawing them for the first frame.
    if (m_drawing || m_asks.empty() ||
        std::any_of(m_asks.cbegin(), m_asks.cend(), [this](const Ask &a) { return isHeld(a.key.page); }))
        return;
    Ask ask = std::move(m_asks.front());
    m_asks.erase(m_asks.begin());
    m_drawing = ask.key;
    m_pool.start([this, key = ask.key, drawing = std::move(ask.drawing)] {
        const QImage image = draw(key, drawing);
        QMetaObject::invokeMethod(
            this, [this, key, image] { finished(key, image, true); }, Qt::QueuedConnection);
    });
}

QImage DesktopCanvasReplayPageImages::draw(const Key &key, const Drawing &drawing) {
    QImage image(key.pixels, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    drawing(painter);
    return image;
}

void DesktopCanvasReplayPageImages::finished(const Key &key, const QImage &image, bool fromWorker) {
    if (fromWorker)
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
