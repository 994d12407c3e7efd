// The scanner view offscreen: black background, the hint centred and kept 24 px from the sides, `onCode`
// called once with the text of a QR code that comes through the view's own video path, and the camera's
// activity following the view's visibility.

#include "ScannerTestSupport.h"

#include "rirudez/bridgekit/scanner/QRCodeImage.h"
#include "rirudez/bridgekit/scanner/ScannerController.h"

#include <QCameraDevice>
#include <QMediaDevices>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QSignalSpy>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

Q_IMPORT_QML_PLUGIN(Rirudez_BridgeKit_ScannerPlugin)

using namespace Qt::StringLiterals;

namespace rirudez {
namespace {

class BridgePairScannerViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        scannertest::ensureGuiApplication();
        view = std::make_unique<QQuickView>();
        view->engine()->addImportPath(u"qrc:/qt/qml"_s);
        view->setResizeMode(QQuickView::SizeRootObjectToView);
        view->setSource(QUrl(u"qrc:/qt/qml/Rirudez/BridgeKit/Scanner/BridgePairScannerView.qml"_s));
        ASSERT_EQ(view->status(), QQuickView::Ready) << view->errors().value(0).toString().toStdString();
        view->resize(360, 480);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        root = view->rootObject();
        controller = root->findChild<ScannerController *>(u"scannerController"_s);
        ASSERT_NE(controller, nullptr);
    }

    QQuickItem *child(const QString &name) { return root->findChild<QQuickItem *>(name); }

    std::unique_ptr<QQuickView> view;
    QQuickItem *root = nullptr;
    ScannerController *controller = nullptr;
};

TEST_F(BridgePairScannerViewTest, CodeThroughThePreviewSinkReachesOnCodeOnce) {
    QSignalSpy codes(root, SIGNAL(code(QString)));
    // The controller listens on the preview's sink, so what the preview shows is what is decoded.
    QObject *preview = child(u"scannerPreview"_s);
    ASSERT_NE(preview, nullptr);
    auto *previewSink = preview->property("videoSink").value<QVideoSink *>();
    ASSERT_NE(previewSink, nullptr);
    EXPECT_EQ(controller->videoSink(), previewSink);

    const QString link = u"doduzadod://pair?host=10.1.2.3&port=8800&token=t"_s;
    const QVideoFrame frame = scannertest::frameShowing(scannertest::sceneWith(QRCodeImage::render(link, 3)),
                                                        QVideoFrameFormat::Format_BGRA8888);
    previewSink->setVideoFrame(frame);
    previewSink->setVideoFrame(frame);
    ASSERT_TRUE(scannertest::waitUntil([&] { return codes.size() == 1; }));
    EXPECT_EQ(codes.at(0).at(0).toString(), link);
    previewSink->setVideoFrame(frame);
    QCoreApplication::processEvents();
    EXPECT_EQ(codes.size(), 1);
}

TEST_F(BridgePairScannerViewTest, NoCameraHintIsCentredOnBlack) {
    if (!QMediaDevices::videoInputs().isEmpty())
        GTEST_SKIP() << "this machine has a camera; the test does not use real devices";
    EXPECT_TRUE(controller->isActive());
    EXPECT_EQ(root->property("color").value<QColor>(), QColor(Qt::black));
    QQuickItem *hint = child(u"scannerHint"_s);
    ASSERT_NE(hint, nullptr);
    EXPECT_TRUE(hint->isVisible());
    EXPECT_EQ(hint->property("text").toString(), ScannerController::noCameraHint);
    for (const int width : {360, 1000}) {
        view->resize(width, 480);
        ASSERT_TRUE(scannertest::waitUntil([&] { return qRound(root->width()) == width; }));
        const QRectF box = hint->mapRectToItem(root, hint->boundingRect());
        EXPECT_GE(box.left(), 24.0) << width;
        EXPECT_LE(box.right(), root->width() - 24.0) << width;
        EXPECT_NEAR(box.center().x(), root->width() / 2, 1.0) << width;
        EXPECT_NEAR(box.center().y(), root->height() / 2, 1.0) << width;
    }
    // Wrapped, not cut: a narrow view shows the sentence on several lines.
    view->resize(160, 480);
    ASSERT_TRUE(scannertest::waitUntil([&] { return qRound(root->width()) == 160; }));
    EXPECT_GT(hint->property("lineCount").toInt(), 1);
}

TEST_F(BridgePairScannerViewTest, HidingTheViewDeactivatesTheCamera) {
    EXPECT_TRUE(controller->isActive());
    root->setVisible(false);
    EXPECT_FALSE(controller->isActive());
    EXPECT_FALSE(controller->isCameraRunning());
    root->setVisible(true);
    EXPECT_TRUE(controller->isActive());
}

} // namespace
} // namespace rirudez
