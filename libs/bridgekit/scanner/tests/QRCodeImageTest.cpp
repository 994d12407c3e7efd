// Reading QR codes from pictures and image files, and drawing them.

#include "ScannerTestSupport.h"

#include "rirudez/bridgekit/scanner/QRCodeImage.h"

#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <QTransform>

#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace rirudez {
namespace {

const QString pairLink =
    u"doduzadod://pair?host=192.168.1.20&port=8800&token=tok-123&fp="_s + QString(64, u'a');

// A barcode of another kind, drawn with the same writer: the reader must not take it for a pair link.
QImage code128(const QString &text) {
    ZXing::MultiFormatWriter writer(ZXing::BarcodeFormat::Code128);
    const ZXing::BitMatrix matrix = writer.encode(text.toStdWString(), 400, 120);
    QImage image(matrix.width(), matrix.height(), QImage::Format_Grayscale8);
    for (int y = 0; y < matrix.height(); ++y)
        for (int x = 0; x < matrix.width(); ++x)
            image.scanLine(y)[x] = matrix.get(x, y) ? 0 : 255;
    return image;
}

struct PictureCase {
    const char *name;
    std::function<QImage()> picture;
    std::optional<QString> expected;
};

class QRCodeImageReadTest : public ::testing::TestWithParam<PictureCase> {};

TEST_P(QRCodeImageReadTest, ReadsOnlyQRCodes) {
    scannertest::ensureGuiApplication();
    EXPECT_EQ(QRCodeImage::read(GetParam().picture()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, QRCodeImageReadTest,
    ::testing::Values(
        PictureCase{"PairLink", [] { return QRCodeImage::render(pairLink); }, pairLink},
        PictureCase{"NonAsciiText", [] { return QRCodeImage::render(u"doduzadod://pair?host=café"_s); },
                    u"doduzadod://pair?host=café"_s},
        PictureCase{"InCameraScene", [] { return scannertest::sceneWith(QRCodeImage::render(pairLink, 3)); },
                    pairLink},
        PictureCase{"Rotated",
                    [] { return QRCodeImage::render(pairLink).transformed(QTransform().rotate(90)); },
                    pairLink},
        PictureCase{"OtherBarcode", [] { return code128(u"doduzadod"_s); }, std::nullopt},
        PictureCase{"Blank", [] { return scannertest::sceneWith(QImage()); }, std::nullopt},
        PictureCase{"Null", [] { return QImage(); }, std::nullopt}),
    [](const auto &param) { return std::string(param.param.name); });

TEST(QRCodeImageTest, RenderRefusesTextTooLongForACode) {
    EXPECT_TRUE(QRCodeImage::render(QString(8000, u'x')).isNull());
}

TEST(QRCodeImageTest, ReadsImageFilesAndSaysWhatWasWrong) {
    scannertest::ensureGuiApplication();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString withCode = dir.filePath(u"code.png"_s);
    ASSERT_TRUE(scannertest::sceneWith(QRCodeImage::render(pairLink)).save(withCode));
    const QString jpeg = dir.filePath(u"code.jpg"_s);
    ASSERT_TRUE(scannertest::sceneWith(QRCodeImage::render(pairLink, 6)).save(jpeg, "JPG", 85));
    const QString withoutCode = dir.filePath(u"plain.png"_s);
    ASSERT_TRUE(scannertest::sceneWith(QImage()).save(withoutCode));
    const QString notAnImage = dir.filePath(u"notes.png"_s);
    {
        QFile file(notAnImage);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("this is not a picture\n");
    }

    struct Case {
        QString path;
        std::optional<QString> text;
        std::optional<QRCodeImage::FileProblem> problem;
    };
    const QList<Case> cases{
        {withCode, pairLink, std::nullopt},
        {jpeg, pairLink, std::nullopt},
        {withoutCode, std::nullopt, QRCodeImage::FileProblem::noCode},
        {notAnImage, std::nullopt, QRCodeImage::FileProblem::unreadable},
        {dir.filePath(u"missing.png"_s), std::nullopt, QRCodeImage::FileProblem::unreadable},
    };
    for (const Case &c : cases) {
        const auto result = QRCodeImage::readFile(c.path);
        EXPECT_EQ(result.text, c.text) << c.path.toStdString();
        EXPECT_EQ(result.problem, c.problem) << c.path.toStdString();
    }
}

} // namespace
} // namespace rirudez
