#pragma once

// A QR code drawn with Unicode half blocks, two module rows per text line, for printing the pair link
// in a terminal. Light modules are drawn as blocks so the code scans on dark terminals.

#include <QString>

namespace rirudez::server {

// The lines of the QR code of `text` (UTF-8, with a quiet zone of two modules),
// joined with '\n'. Empty when the text cannot be encoded.
QString terminalQrCode(const QString &text);

} // namespace rirudez::server
