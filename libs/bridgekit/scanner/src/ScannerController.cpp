#include "rirudez/bridgekit/scanner/ScannerController.h"

#include "rirudez/bridgekit/scanner/QRCodeImage.h"

#include <QCamera>
#include <QCameraDevice>
#include <QFile>
#include <QLoggingCategory>
#include <QMediaDevices>
#include <QtConcurrent/QtConcurrentRun>

#include <cerrno>
#include <cstring>

#include <unistd.h>

Q_LOGGING_CATEGORY(lcScanner, "rirudez.bridgekit.scanner", QtWarningMsg)

using namespace Qt::StringLiterals;

namespace rirudez {

namespace {

// The errno of opening a camera's device node for reading and writing, when it is a device node and that
// fails; nothing otherwise (including for camera ids that are not paths).
std::optional<int> deviceAccessError(const QByteArray &devicePath) {
    if (!devicePath.startsWith("/dev/"))
        return std::nullopt;
    if (::access(devicePath.constData(), R_OK | W_OK) == 0)
        return std::nullopt;
    return errno;
}

bool isAccessErrno(std::optional<int> error) {
    return error && (*error == EACCES || *error == EPERM);
}

// The luminance of a frame as an 8-bit image. Planar and semi-planar YUV frames (what cameras deliver)
// give their Y plane as it is; other formats go through Qt's conversion.
QImage luminance(QVideoFrame frame) {
    switch (frame.pixelFormat()) {
    case QVideoFrameFormat::Format_YUV420P:
    case QVideoFrameFormat::Format_YUV422P:
    case QVideoFrameFormat::Format_YV12:
    case QVideoFrameFormat::Format_NV12:
    case QVideoFrameFormat::Format_NV21:
    case QVideoFrameFormat::Format_IMC1:
    case QVideoFrameFormat::Format_IMC2:
    case QVideoFrameFormat::Format_IMC3:
    case QVideoFrameFormat::Format_IMC4:
    case QVideoFrameFormat::Format_Y8: {
        if (!frame.map(QVideoFrame::ReadOnly))
            return {};
        const QImage view(frame.bits(0), frame.width(), frame.height(), frame.bytesPerLine(0),
                          QImage::Format_Grayscale8);
        QImage copy = view.copy(); // the mapping ends below
        frame.unmap();
        return copy;
    }
    default:
        return frame.toImage();
    }
}

} // namespace

ScannerController::ScannerController(QObject *parent) : QObject(parent) {
    m_decoder.setMaxThreadCount(1);
    m_decoder.setObjectName(u"rirudez.bridgekit.scanner"_s);
    connect(&m_decoding, &QFutureWatcherBase::finished, this, &ScannerController::onDecoded);
    m_sink = &m_ownSink;
    connectSink();
}

ScannerController::~ScannerController() {
    m_handled = true;
    stopCamera();
    disconnect(m_sinkConnection);
    disconnect(m_sinkGoneConnection);
    // The worker holds only its copy of a frame; wait for it so nothing outlives the controller.
    m_decoding.waitForFinished();
    m_decoder.waitForDone();
}

QVideoSink *ScannerController::videoSink() const {
    return m_sink ? m_sink.data() : const_cast<QVideoSink *>(&m_ownSink);
}

void ScannerController::setVideoSink(QVideoSink *sink) {
    if (!sink)
        sink = &m_ownSink;
    if (m_sink == sink)
        return;
    m_sink = sink;
    connectSink();
    Q_EMIT videoSinkChanged();
}

void ScannerController::connectSink() {
    disconnect(m_sinkConnection);
    disconnect(m_sinkGoneConnection);
    QVideoSink *sink = videoSink();
    m_sinkConnection = connect(sink, &QVideoSink::videoFrameChanged, this, &ScannerController::onFrame);
    // A sink that goes away (the view's VideoOutput is destroyed first) leaves the controller on its own.
    if (sink != &m_ownSink) {
        m_sinkGoneConnection = connect(sink, &QObject::destroyed, this, [this] {
            m_sink = &m_ownSink;
            connectSink();
        });
    }
    m_session.setVideoSink(sink);
}

void ScannerController::setActive(bool active) {
    if (m_active == active)
        return;
    m_active = active;
    Q_EMIT activeChanged();
    if (m_active)
        startCamera();
    else
        stopCamera();
}

bool ScannerController::isCameraRunning() const {
    return m_camera && m_camera->isActive();
}

QString ScannerController::hintBeforeStart(bool hasInput, std::optional<int> accessError) {
    if (!hasInput)
        return noCameraHint;
    if (isAccessErrno(accessError))
        return accessOffHint;
    if (accessError) // the node exists no more, or is no device we can use
        return noCameraHint;
    return {};
}

QString ScannerController::hintForCameraError(const QString &errorText, std::optional<int> accessError) {
    const QString lowered = errorText.toLower();
    if (isAccessErrno(accessError) || lowered.contains(u"permission"_s) || lowered.contains(u"denied"_s) ||
        lowered.contains(u"not permitted"_s) || lowered.contains(u"not authorized"_s))
        return accessDeniedHint;
    return noCameraHint;
}

void ScannerController::startCamera() {
    if (m_handled || m_camera)
        return;
    // Without a real input the multimedia backend would still start and deliver a test pattern.
    const QCameraDevice device = QMediaDevices::defaultVideoInput();
    m_cameraDevicePath = device.isNull() ? QByteArray() : device.id();
    const QString before = hintBeforeStart(!device.isNull(), deviceAccessError(m_cameraDevicePath));
    if (!before.isEmpty()) {
        setHint(before);
        return;
    }
    m_camera = std::make_unique<QCamera>(device);
    if (!m_camera->isAvailable()) {
        m_camera.reset();
        setHint(noCameraHint);
        return;
    }
    connect(m_camera.get(), &QCamera::errorOccurred, this, &ScannerController::onCameraError);
    connect(m_camera.get(), &QCamera::activeChanged, this, &ScannerController::cameraRunningChanged);
    m_session.setCamera(m_camera.get());
    setHint({});
    m_camera->start();
}

void ScannerController::stopCamera() {
    if (!m_camera)
        return;
    std::unique_ptr<QCamera> camera = std::move(m_camera);
    camera->disconnect(this);
    m_session.setCamera(nullptr);
    const bool wasRunning = camera->isActive();
    camera->stop();
    camera.reset();
    if (wasRunning)
        Q_EMIT cameraRunningChanged();
}

void ScannerController::onCameraError() {
    if (!m_camera || m_camera->error() == QCamera::NoError)
        return;
    const QString text = m_camera->errorString();
    qCInfo(lcScanner) << "camera error:" << text;
    const QString hint = hintForCameraError(text, deviceAccessError(m_cameraDevicePath));
    stopCamera();
    setHint(hint);
}

void ScannerController::setHint(const QString &hint) {
    if (m_hint == hint)
        return;
    m_hint = hint;
    Q_EMIT hintChanged();
}

void ScannerController::onFrame(const QVideoFrame &frame) {
    ++m_counts.received;
    if (m_handled || !frame.isValid()) {
        ++m_counts.ignored;
        return;
    }
    if (m_inFlight) {
        ++m_counts.dropped;
        return;
    }
    m_inFlight = true;
    m_decoding.setFuture(
        QtConcurrent::run(&m_decoder, [frame] { return QRCodeImage::read(luminance(frame)); }));
}

void ScannerController::onDecoded() {
    m_inFlight = false;
    ++m_counts.decoded;
    const std::optional<QString> text =
        m_decoding.future().resultCount() > 0 ? m_decoding.result() : std::optional<QString>();
    Q_EMIT frameScanned(text.has_value());
    if (!text || m_handled)
        return;
    m_handled = true;
    stopCamera();
    Q_EMIT handledChanged();
    Q_EMIT code(*text);
}

} // namespace rirudez
