#include "TerminalQr.h"

#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>

#include <exception>

namespace rirudez::server {

QString terminalQrCode(const QString &text) {
    ZXing::BitMatrix matrix;
    try {
        ZXing::MultiFormatWriter writer(ZXing::BarcodeFormat::QRCode);
        writer.setMargin(2);
        matrix = writer.encode(text.toStdString(), 0, 0);
    } catch (const std::exception &) {
        return {};
    }
    auto light = [&](int x, int y) { return y >= matrix.height() || !matrix.get(x, y); };
    QString out;
    for (int y = 0; y < matrix.height(); y += 2) {
        for (int x = 0; x < matrix.width(); ++x) {
            const bool top = light(x, y);
            const bool bottom = light(x, y + 1);
            out += top && bottom ? QChar(0x2588) : top ? QChar(0x2580) : bottom ? QChar(0x2584) : QChar(u' ');
        }
        out += u'\n';
    }
    return out;
}

} // namespace rirudez::server
