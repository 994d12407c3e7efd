#pragma once

// Helpers of the scanner tests: one QGuiApplication (offscreen) for the test program, waiting for a
// condition with a deadline, and synthetic camera frames that hold an image.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QImage>
#include <QVideoFrame>
#include <QVideoFrameFormat>

#include <chrono>
#include <cstring>
#include <functional>

namespace rirudez::scannertest {

inline void ensureGuiApplication() {
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "scanner-test";
    static char *argv[] = {name, nullptr};
    new QGuiApplication(argc, argv); // lives for the whole test program
}

inline bool waitUntil(const std::function<bool()> &condition,
                      std::chrono::milliseconds deadline = std::chrono::milliseconds(5000)) {
    QDeadlineTimer timer(deadline);
    while (!condition()) {
        if (timer.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// A frame of the given pixel format showing `picture` (converted to gray for the YUV formats, whose
// chroma planes stay neutral), the way a camera would deliver it through a video sink.
inline QVideoFrame frameShowing(const QImage &picture, QVideoFrameFormat::PixelFormat format) {
    QVideoFrame frame(QVideoFrameFormat(picture.size(), format));
    if (!frame.map(QVideoFrame::WriteOnly))
        return {};
    const int width = picture.width();
    const int height = picture.height();
    auto copyRows = [&](const QImage &source, int plane, int bytes) {
        for (int y = 0; y < height; ++y)
            std::memcpy(frame.bits(plane) + qsizetype(y) * frame.bytesPerLine(plane), source.constScanLine(y),
                        size_t(bytes));
    };
    auto fillPlane = [&](int plane, int rows, uchar value) {
        std::memset(frame.bits(plane), value, size_t(frame.bytesPerLine(plane)) * size_t(rows));
    };
    switch (format) {
    case QVideoFrameFormat::Format_BGRA8888:
        copyRows(picture.convertToFormat(QImage::Format_ARGB32), 0, width * 4);
        break;
    case QVideoFrameFormat::Format_RGBA8888:
        copyRows(picture.convertToFormat(QImage::Format_RGBA8888), 0, width * 4);
        break;
    case QVideoFrameFormat::Format_NV12:
        copyRows(picture.convertToFormat(QImage::Format_Grayscale8), 0, width);
        fillPlane(1, (height + 1) / 2, 128);
        break;
    case QVideoFrameFormat::Format_YUV420P:
        copyRows(picture.convertToFormat(QImage::Format_Grayscale8), 0, width);
        fillPlane(1, (height + 1) / 2, 128);
        fillPlane(2, (height + 1) / 2, 128);
        break;
    default:
        frame.unmap();
        return {};
    }
    frame.unmap();
    return frame;
}

// A camera-sized grey picture with `code` somewhere off-centre, as a phone or monitor would appear.
inline QImage sceneWith(const QImage &code, QSize size = QSize(640, 480)) {
    QImage scene(size, QImage::Format_ARGB32);
    scene.fill(QColor(150, 150, 150));
    if (!code.isNull()) {
        for (int y = 0; y < code.height() && 60 + y < size.height(); ++y)
            for (int x = 0; x < code.width() && 200 + x < size.width(); ++x)
                scene.setPixelColor(200 + x, 60 + y, code.pixelColor(x, y));
    }
    return scene;
}

} // namespace rirudez::scannertest
