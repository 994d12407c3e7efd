#pragma once

// Canvas pages drawn with QPainter into images at the pixel size they are shown at, for scene graphs that
// cannot draw stroke geometry (the software renderer). A page is drawn off the UI thread, one at a time, in
// the order asked (a list asks for its pages in the order they come into view); asks nobody waits for any
// more (the page scrolled away) are dropped before they start. Finished images are kept for pages scrolled
// back to, within a byte limit: the least recently used go first. The first pages of a conversation just
// opened are drawn at once on the UI thread when they are in view, so the first frame shows their ink rather
// than bare paper waiting for the worker.

#include <QImage>
#include <QObject>
#include <QSize>
#include <QThreadPool>

#include <functional>
#include <optional>
#include <vector>

class QPainter;

namespace rirudez {

class DesktopCanvasReplayPageImages : public QObject {
    Q_OBJECT

public:
    struct Key {
        int page = 0;
        quint64 signature = 0; // the page's ink (DesktopCanvasReplayDocument::pageSignature)
        QSize pixels;
        bool operator==(const Key &) const = default;
    };
    // Draws the page into a painter on an image of the key's size. Runs on a worker thread: it must own
    // everything it reads.
    using Drawing = std::function<void(QPainter &)>;

    // 48 MB: some thirty pages at the size the shell shows them.
    static constexpr qsizetype defaultByteLimit = qsizetype(48) << 20;

    explicit DesktopCanvasReplayPageImages(QObject *parent = nullptr);
    ~DesktopCanvasReplayPageImages() override;

    void setByteLimit(qsizetype bytes);
    qsizetype byteLimit() const { return m_byteLimit; }
    qsizetype byteCount() const { return m_byteCount; }
    qsizetype imageCount() const { return qsizetype(m_images.size()); }

    // The finished image, or a null image.
    QImage find(const Key &key);
    // Asks for the image unless it is already finished, being drawn or asked for: `imageReady` follows.
    void request(const Key &key, Drawing drawing);
    // The pages below `count` are held when asked for until their items `settle` them, once each; while a
    // held page waits, so does the worker.
    void drawFirstPagesAtOnce(int count);
    bool isHeld(int page) const;
    // A held page's item tells whether it is in view: in view, its image is drawn now on this thread
    // (`imageReady` before this returns); otherwise it is drawn off the UI thread like any other.
    void settle(const Key &key, bool inView);
    // Drops an ask that has not started.
    void cancel(const Key &key);
    // Forgets every image and every ask that has not started.
    void clear();

Q_SIGNALS:
    // The image asked for is drawn (it may already be gone from the cache when the limit is small).
    void imageReady(const rirudez::DesktopCanvasReplayPageImages::Key &key, const QImage &image);

private:
    struct Entry {
        Key key;
        QImage image;
        quint64 used;
    };
    struct Ask {
        Key key;
        Drawing drawing;
    };
    static QImage draw(const Key &key, const Drawing &drawing);
    void startNext();
    void finished(const Key &key, const QImage &image, bool fromWorker);
    void evict();

    std::vector<Entry> m_images;
    std::vector<Ask> m_asks; // in the order asked
    std::optional<Key> m_drawing;
    std::vector<int> m_atOnce; // held first pages
    qsizetype m_byteLimit = defaultByteLimit;
    qsizetype m_byteCount = 0;
    quint64 m_clock = 0;
    QThreadPool m_pool;
};

} // namespace rirudez
