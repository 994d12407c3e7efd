#pragma once

// The form in which thread search compares text: letters without their accents and case (NFKD, combining
// marks dropped, Unicode case folding), as UTF-8. "Événement", "EVENEMENT" and "evenement" all become
// "evenement".

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QStringView>

namespace rirudez {

class DesktopThreadSearchText {
public:
    // Appends the folded form of `text` to `out`. ASCII text takes a fast path.
    static void appendFolded(QStringView text, QByteArray &out);
    static QByteArray folded(QStringView text);
    // The folded words of a query (split at whitespace; empty words dropped).
    static QList<QByteArray> queryTerms(QStringView query);
    // Whether `haystack` contains `needle` (both folded).
    static bool contains(QByteArrayView haystack, QByteArrayView needle);
};

} // namespace rirudez
