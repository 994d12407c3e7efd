#pragma once

// QR codes in images, both ways, with zxing-cpp: reading the text of the first QR code in a picture (a camera
// frame, or an image file the user opened or dropped), and drawing a text as a QR code (what the bridge shows
// and what tests put in front of the scanner). Only QR codes are looked for; other barcodes are ignored.
// Pure functions of their inputs: safe on any thread.

#include <QImage>
#include <QString>

#include <optional>

namespace rirudez {

namespace QRCodeImage {

// The text of the first readable QR code in the image, or nothing when there is none (or the image is null).
std::optional<QString> read(const QImage &image);

// How an image file that should hold a QR code failed to give one.
enum class FileProblem {
    unreadable, // not an image this program can read (or missing, or too large)
    noCode,     // an image, but without a readable QR code
};
struct FileResult {
    std::optional<QString> text;
    std::optional<FileProblem> problem;
};
// Loads an image file (size-limited, untrusted) and reads its first QR code.
FileResult readFile(const QString &path);

// The text drawn as a black-on-white QR code, `moduleSize` pixels per module, with a quiet zone of four
// modules around it. A null image when the text does not fit in a QR code.
QImage render(const QString &text, int moduleSize = 4);

} // namespace QRCodeImage

} // namespace rirudez
