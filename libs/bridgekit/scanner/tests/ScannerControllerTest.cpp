// The scanner controller fed with synthetic camera frames through its video sink, the same path camera
// frames take: one delivery per controller, frames without a code, dropped frames while one is decoded,
// pixel formats of cameras, and the hints when the camera cannot be used.

#include "ScannerTestSupport.h"

#include "rirudez/bridgekit/scanner/QRCodeImage.h"
#include "rirudez/bridgekit/scanner/ScannerController.h"

#include <QCameraDevice>
#include <QMediaDevices>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cerrno>

using namespace Qt::StringLiterals;

namespace rirudez {
namespace {

using scannertest::frameShowing;
using scannertest::sceneWith;
using scannertest::waitUntil;

const QString firstLink = u"doduzadod://pair?host=10.0.0.7&port=8800&token=first"_s;
const QString secondLink = u"doduzadod://pair?host=10.0.0.8&port=8800&token=second"_s;

QVideoFrame codeFrame(const QString &text,
                      QVideoFrameFormat::PixelFormat format = QVideoFrameFormat::Format_BGRA8888) {
    return frameShowing(sceneWith(QRCodeImage::render(text, 3)), format);
}

class ScannerControllerTest : public ::testing::Test {
protected:
    void SetUp() override { scannertest::ensureGuiApplication(); }
};

TEST_F(ScannerControllerTest, BurstOfFramesDeliversTheFirstCodeOnceAndStopsListening) {
    ScannerController controller;
    QSignalSpy codes(&controller, &ScannerController::code);
    QSignalSpy scanned(&controller, &ScannerController::frameScanned);

    // Five frames in one go: the first is decoded, the others arrive while it is in flight.
    for (int i = 0; i < 5; ++i)
        controller.videoSink()->setVideoFrame(codeFrame(i == 0 ? firstLink : secondLink));
    ASSERT_TRUE(waitUntil([&] { return codes.size() > 0; }));
    EXPECT_EQ(codes.takeFirst().at(0).toString(), firstLink);
    EXPECT_TRUE(controller.isHandled());
    EXPECT_EQ(controller.frameCounts().decoded, 1);
    EXPECT_EQ(controller.frameCounts().dropped, 4);

    // Later frames, with another code, are not even decoded.
    for (int i = 0; i < 3; ++i)
        controller.videoSink()->setVideoFrame(codeFrame(secondLink));
    QCoreApplication::processEvents();
    EXPECT_EQ(controller.frameCounts().ignored, 3);
    EXPECT_EQ(controller.frameCounts().decoded, 1);
    EXPECT_EQ(scanned.size(), 1);
    EXPECT_TRUE(codes.isEmpty());
}

TEST_F(ScannerControllerTest, FrameWithoutCodeDeliversNothingAndScanningGoesOn) {
    ScannerController controller;
    QSignalSpy codes(&controller, &ScannerController::code);
    QSignalSpy scanned(&controller, &ScannerController::frameScanned);

    controller.videoSink()->setVideoFrame(
        frameShowing(sceneWith(QImage()), QVideoFrameFormat::Format_BGRA8888));
    ASSERT_TRUE(waitUntil([&] { return scanned.size() == 1; }));
    controller.videoSink()->setVideoFrame(QVideoFrame()); // an invalid frame is skipped, not decoded
    EXPECT_FALSE(scanned.at(0).at(0).toBool());
    EXPECT_FALSE(controller.isHandled());
    EXPECT_TRUE(codes.isEmpty());

    controller.videoSink()->setVideoFrame(codeFrame(secondLink));
    ASSERT_TRUE(waitUntil([&] { return codes.size() == 1; }));
    EXPECT_EQ(codes.at(0).at(0).toString(), secondLink);
    EXPECT_EQ(controller.frameCounts().ignored, 1);
    EXPECT_EQ(controller.frameCounts().decoded, 2);
}

class ScannerFrameFormatTest : public ::testing::TestWithParam<QVideoFrameFormat::PixelFormat> {};

TEST_P(ScannerFrameFormatTest, DecodesCameraPixelFormats) {
    scannertest::ensureGuiApplication();
    ScannerController controller;
    QSignalSpy codes(&controller, &ScannerController::code);
    const QVideoFrame frame = codeFrame(firstLink, GetParam());
    ASSERT_TRUE(frame.isValid());
    controller.videoSink()->setVideoFrame(frame);
    ASSERT_TRUE(waitUntil([&] { return controller.frameCounts().decoded == 1; }));
    ASSERT_EQ(codes.size(), 1);
    EXPECT_EQ(codes.at(0).at(0).toString(), firstLink);
}

INSTANTIATE_TEST_SUITE_P(Formats, ScannerFrameFormatTest,
                         ::testing::Values(QVideoFrameFormat::Format_BGRA8888,
                                           QVideoFrameFormat::Format_RGBA8888, QVideoFrameFormat::Format_NV12,
                                           QVideoFrameFormat::Format_YUV420P));

TEST_F(ScannerControllerTest, FramesComeThroughTheSinkItIsGiven) {
    ScannerController controller;
    QSignalSpy codes(&controller, &ScannerController::code);
    {
        QVideoSink previewSink;
        controller.setVideoSink(&previewSink);
        EXPECT_EQ(controller.videoSink(), &previewSink);
        previewSink.setVideoFrame(frameShowing(sceneWith(QImage()), QVideoFrameFormat::Format_BGRA8888));
        ASSERT_TRUE(waitUntil([&] { return controller.frameCounts().decoded == 1; }));
    }
    // The preview's sink is gone: the controller listens on its own again.
    ASSERT_NE(controller.videoSink(), nullptr);
    controller.videoSink()->setVideoFrame(codeFrame(firstLink));
    ASSERT_TRUE(waitUntil([&] { return codes.size() == 1; }));
}

TEST_F(ScannerControllerTest, NoCameraShowsTheHintAndStartsNothing) {
    if (!QMediaDevices::videoInputs().isEmpty())
        GTEST_SKIP() << "this machine has a camera; the test does not use real devices";
    ScannerController controller;
    controller.setActive(true);
    EXPECT_EQ(controller.hint(), u"No camera available — paste the pair link instead."_s);
    EXPECT_FALSE(controller.isCameraRunning());
    controller.setActive(false);
    EXPECT_FALSE(controller.isCameraRunning());
}

TEST(ScannerHintTest, HintsForWhatTheSystemSays) {
    struct Before {
        bool hasInput;
        std::optional<int> accessError;
        QString hint;
    };
    const QList<Before> before{
        {false, std::nullopt, ScannerController::noCameraHint},
        {true, std::nullopt, QString()},
        {true, EACCES, ScannerController::accessOffHint},
        {true, EPERM, ScannerController::accessOffHint},
        {true, ENOENT, ScannerController::noCameraHint},
        {true, EBUSY, ScannerController::noCameraHint},
    };
    for (const Before &c : before)
        EXPECT_EQ(ScannerController::hintBeforeStart(c.hasInput, c.accessError), c.hint)
            << c.hasInput << " " << c.accessError.value_or(0);

    struct Error {
        QString text;
        std::optional<int> accessError;
        QString hint;
    };
    const QList<Error> errors{
        {u"Could not open device '/dev/video0' for reading and writing."_s, EACCES,
         ScannerController::accessDeniedHint},
        {u"Camera access was denied by the portal"_s, std::nullopt, ScannerController::accessDeniedHint},
        {u"Permission denied"_s, std::nullopt, ScannerController::accessDeniedHint},
        {u"Could not open device '/dev/video0' for reading and writing."_s, std::nullopt,
         ScannerController::noCameraHint},
        {u"Device '/dev/video0' is busy"_s, EBUSY, ScannerController::noCameraHint},
        {u"No camera detected"_s, std::nullopt, ScannerController::noCameraHint},
    };
    for (const Error &c : errors)
        EXPECT_EQ(ScannerController::hintForCameraError(c.text, c.accessError), c.hint)
            << c.text.toStdString();
}

} // namespace
} // namespace rirudez
