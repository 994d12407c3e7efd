#include "DesktopThreadSearchText.h"

#include <QString>

#include <array>
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

// Latin letters with accents are most of the non-ASCII text in a conversation; their folded forms are worked
// out once. Folding is per character (decomposition, dropping marks and case folding all are), so a run can
// be folded a character at a time.
constexpr char16_t tableEnd = 0x300; // combining marks start here
const std::array<QByteArray, tableEnd> &latinTable() {
    static const std::array<QByteArray, tableEnd> table = [] {
        std::array<QByteArray, tableEnd> built;
        for (char16_t c = 0x80; c < tableEnd; ++c) {
            const QChar ch(c);
            appendFoldedSlow(QStringView(&ch, 1), built[c]);
        }
        return built;
    }();
    return table;
}

} // namespace

void DesktopThreadSearchText::appendFolded(QStringView text, QByteArray &out) {
    // Runs of ASCII are lowered straight into the buffer; anything else goes through decomposition in runs.
    const char16_t *chars = text.utf16();
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size) {
        qsizetype start = i;
        while (i < size && chars[i] < 0x80)
            ++i;
        if (i > start) {
            const qsizetype at = out.size();
            out.resize(at + (i - start));
            char *to = out.data() + at;
            for (qsizetype k = start; k < i; ++k) {
                const char16_t c = chars[k];
                *to++ = char(c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c);
            }
        }
        while (i < size && chars[i] >= 0x80 && chars[i] < tableEnd)
            out.append(latinTable()[chars[i++]]);
        start = i;
        while (i < size && chars[i] >= tableEnd)
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
