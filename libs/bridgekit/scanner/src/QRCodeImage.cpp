#include "rirudez/bridgekit/scanner/QRCodeImage.h"

#include <QImageReader>

#include <ZXing/BitMatrix.h>
#include <ZXing/DecodeHints.h>
#include <ZXing/ImageView.h>
#include <ZXing/MultiFormatWriter.h>
#include <ZXing/ReadBarcode.h>

#include <algorithm>
#include <exception>
#include <string>

namespace rirudez::QRCodeImage {

namespace {

// Image files larger than this on a side are not a screenshot of a QR code; refusing them early keeps a
// hostile file from costing seconds of decoding.
constexpr int maximumImageSide = 8192;

} // namespace

std::optional<QString> read(const QImage &image) {
    if (image.isNull())
        return std::nullopt;
    // Luminance only: the decoder binarizes anyway, and one byte per pixel halves its input.
    const QImage gray = image.convertToFormat(QImage::Format_Grayscale8);
    if (gray.isNull())
        return std::nullopt;
    const ZXing::ImageView view(gray.constBits(), gray.width(), gray.height(), ZXing::ImageFormat::Lum,
                                int(gray.bytesPerLine()));
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    hints.setTryHarder(true);
    hints.setTryRotate(true);
    const ZXing::Result result = ZXing::ReadBarcode(view, hints);
    if (!result.isValid() || result.format() != ZXing::BarcodeFormat::QRCode)
        return std::nullopt;
    QString text = QString::fromStdString(result.text());
    if (text.isEmpty())
        return std::nullopt;
    return text;
}

FileResult readFile(const QString &path) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (!reader.canRead() ||
        (size.isValid() && (size.width() > maximumImageSide || size.height() > maximumImageSide)))
        return {std::nullopt, FileProblem::unreadable};
    const QImage image = reader.read();
    if (image.isNull())
        return {std::nullopt, FileProblem::unreadable};
    if (auto text = read(image))
        return {std::move(text), std::nullopt};
    return {std::nullopt, FileProblem::noCode};
}

QImage render(const QString &text, int moduleSize) {
    if (moduleSize < 1)
        moduleSize = 1;
    ZXing::BitMatrix matrix;
    try {
        ZXing::MultiFormatWriter writer(ZXing::BarcodeFormat::QRCode);
        writer.setMargin(0);
        matrix = writer.encode(text.toStdWString(), 0, 0);
    } catch (const std::exception &) {
        return {}; // too long for a QR code
    }
    constexpr int quietZone = 4;
    const int modules = matrix.width() + 2 * quietZone;
    QImage image(modules * moduleSize, modules * moduleSize, QImage::Format_Grayscale8);
    image.fill(255);
    for (int y = 0; y < matrix.height(); ++y) {
        for (int x = 0; x < matrix.width(); ++x) {
            if (!matrix.get(x, y))
                continue;
            for (int dy = 0; dy < moduleSize; ++dy) {
                uchar *line = image.scanLine((y + quietZone) * moduleSize + dy);
                std::fill_n(line + (x + quietZone) * moduleSize, moduleSize, uchar(0));
            }
        }
    }
    return image;
}

} // namespace rirudez::QRCodeImage
