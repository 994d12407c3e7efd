#pragma once

// The camera side of the pair scanner: reads one QR code (a pair link) from the camera and hands its text to
// the view, once.
//
// Frames arrive through a QVideoSink: the sink of the view's VideoOutput (so the preview and the decoder see
// the same frames) or, without one, a sink of the controller's own. Each frame is decoded by zxing-cpp,
// restricted to QR codes, on a worker thread of the controller's own, one frame at a time: a frame that
// arrives while another is being decoded is dropped. The first QR text found is delivered through `code`
// on the UI thread, the camera is stopped, and every later frame or result is ignored (`handled` is never
// reset). A frame without a QR code delivers nothing and scanning goes on.
//
// The camera runs while the controller is active (the view is on screen) and stops when it becomes inactive
// or is destroyed. When the camera cannot be used, `hint` holds one of three sentences and the view shows
// it instead of the preview:
//   - no camera, or the camera gave no usable input:           noCameraHint
//   - the camera reported an error that says access was denied: accessDeniedHint
//   - the system does not let this user open the camera at all: accessOffHint
// (Qt 6.4 has no camera permission API: a refusal shows up either as a device node this user may not open,
// seen before starting, or as an error of the running camera.) Camera problems never raise errors.
//
// Everything here runs on the UI thread except the decoding of a frame, which works on a copy of the frame
// and touches nothing else.

#include <QFutureWatcher>
#include <QMediaCaptureSession>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThreadPool>
#include <QVideoFrame>
#include <QVideoSink>
#include <QtQml/qqmlregistration.h>

#include <memory>
#include <optional>

class QCamera;

namespace rirudez {

class ScannerController : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QVideoSink *videoSink READ videoSink WRITE setVideoSink NOTIFY videoSinkChanged)
    Q_PROPERTY(bool active READ isActive WRITE setActive NOTIFY activeChanged)
    Q_PROPERTY(QString hint READ hint NOTIFY hintChanged)
    Q_PROPERTY(bool cameraRunning READ isCameraRunning NOTIFY cameraRunningChanged)
    Q_PROPERTY(bool handled READ isHandled NOTIFY handledChanged)

public:
    static inline const QString noCameraHint =
        QStringLiteral("No camera available — paste the pair link instead.");
    static inline const QString accessDeniedHint =
        QStringLiteral("Camera access denied — paste the pair link instead.");
    static inline const QString accessOffHint =
        QStringLiteral("Camera access is off. Enable it in Settings, or paste the pair link.");

    explicit ScannerController(QObject *parent = nullptr);
    ~ScannerController() override;

    // The sink frames arrive through; the controller's own when none was set (or the set one is gone).
    QVideoSink *videoSink() const;
    void setVideoSink(QVideoSink *sink);

    bool isActive() const { return m_active; }
    void setActive(bool active);

    QString hint() const { return m_hint; }
    bool isCameraRunning() const;
    bool isHandled() const { return m_handled; }

    // Counters of the frames that reached the controller, for tests and diagnostics.
    struct FrameCounts {
        int received = 0; // every frame the sink reported
        int decoded = 0;  // frames whose decoding finished
        int dropped = 0;  // arrived while another frame was being decoded
        int ignored = 0;  // invalid frames, and everything after the code was delivered
    };
    FrameCounts frameCounts() const { return m_counts; }

    // The hint before the camera is started: none when a camera can be tried. `hasInput`: the system lists a
    // video input; `deviceAccessError`: the errno of opening the input's device node for reading and
    // writing, when that failed.
    static QString hintBeforeStart(bool hasInput, std::optional<int> deviceAccessError);
    // The hint for an error the running camera reported, with the same device check made at that moment.
    static QString hintForCameraError(const QString &errorText, std::optional<int> deviceAccessError);

Q_SIGNALS:
    // The text of the first QR code read. Emitted at most once per controller, on the UI thread.
    void code(const QString &text);
    // One frame was decoded; `found` tells whether it held a QR code (delivered or not).
    void frameScanned(bool found);
    void videoSinkChanged();
    void activeChanged();
    void hintChanged();
    void cameraRunningChanged();
    void handledChanged();

private:
    void onFrame(const QVideoFrame &frame);
    void onDecoded();
    void startCamera();
    void stopCamera();
    void onCameraError();
    void setHint(const QString &hint);
    void connectSink();

    QVideoSink m_ownSink;
    QPointer<QVideoSink> m_sink;
    QMetaObject::Connection m_sinkConnection;
    QMetaObject::Connection m_sinkGoneConnection;
    QMediaCaptureSession m_session;
    std::unique_ptr<QCamera> m_camera;
    QByteArray m_cameraDevicePath;
    QThreadPool m_decoder; // one thread: at most one frame in flight
    QFutureWatcher<std::optional<QString>> m_decoding;
    bool m_inFlight = false; // a frame is being decoded; cleared when its result is handled
    bool m_active = false;
    bool m_handled = false;
    QString m_hint;
    FrameCounts m_counts;
};

} // namespace rirudez
