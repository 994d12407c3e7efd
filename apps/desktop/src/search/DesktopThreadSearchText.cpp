#include "DesktopThreadSearchText.h"

#include <QString>

#include <cstring>

namespace rirudez {

namespace {

bool isMark(char32_t codePoint) {
    switch (QChar::category(codePoint)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
        return true;
    default:
        return false;
    }
}

void appendFoldedSlow(QStringView text, QByteArray &out) {
    const QString decomposed = text.toString().normalized(QString::NormalizationForm_KD);
    QString kept;
    kept.reserve(decomposed.size());
    for (qsizetype i = 0; i < decomposed.size(); ++i) {
        char32_t codePoint = decomposed[i].unicode();
        qsizetype width = 1;
        if (QChar::isHighSurrogate(codePoint) && i + 1 < decomposed.size() &&
            decomposed[i + 1].isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(decomposed[i], decomposed[i + 1]);
            width = 2;
        }
        if (!isMark(codePoint))
            kept.append(QStringView(decomposed).mid(i, width));
        i += width - 1;
    }
    out.append(kept.toCaseFolded().toUtf8());
}

} // namespace

void DesktopThreadSearchText::appendFolded(QStringView text, QByteArray &out) {
    // Runs of ASCII are lowered byte by byte; anything else goes through decomposition in runs.
    qsizetype i = 0;
    const qsizetype size = text.size();
    out.reserve(out.size() + size);
    while (i < size) {
        qsizetype start = i;
        while (i < size && text[i].unicode() < 0x80) {
            char c = char(text[i].unicode());
            if (c >= 'A' && c <= 'Z')
                c = char(c + ('a' - 'A'));
            out.append(c);
            ++i;
        }
        start = i;
        while (i < size && text[i].unicode() >= 0x80)
            ++i;
        if (i > start)
            appendFoldedSlow(text.mid(start, i - start), out);
    }
}

QByteArray DesktopThreadSearchText::folded(QStringView text) {
    QByteArray out;
    appendFolded(text, out);
    return out;
}

QList<QByteArray> DesktopThreadSearchText::queryTerms(QStringView query) {
    QList<QByteArray> terms;
    const QString words = query.toString().simplified();
    for (const QStringView word : QStringView(words).split(u' ', Qt::SkipEmptyParts)) {
        QByteArray term = folded(word);
        if (!term.isEmpty() && !terms.contains(term))
            terms.append(std::move(term));
    }
    return terms;
}

bool DesktopThreadSearchText::contains(QByteArrayView haystack, QByteArrayView needle) {
    if (needle.isEmpty())
        return true;
    if (haystack.size() < needle.size())
        return false;
    return ::memmem(haystack.data(), size_t(haystack.size()), needle.data(), size_t(needle.size())) !=
           nullptr;
}

} // namespace rirudez
