#include "ReplayText.h"

#include <QTextBoundaryFinder>

namespace rirudez::ConversationHandwritingReplay::ReplayText {

bool isWhitespaceOrNewline(QChar c) {
    // QChar::isSpace is exactly White_Space: U+0009 … U+000D, U+0085 and the separator categories.
    return c.isSpace();
}

bool isNewline(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 0x000A && u <= 0x000D) || u == 0x0085 || u == 0x2028 || u == 0x2029;
}

QString trimmed(const QString &text) {
    return text.trimmed();
}

bool isBlank(QStringView text) {
    for (const QChar c : text)
        if (!isWhitespaceOrNewline(c))
            return false;
    return true;
}

namespace {

// Code points that form a cluster of their own whenever every character around them is of this kind too:
// Latin (below the combining marks), Greek and basic Cyrillic letters, kana, CJK ideographs, precomposed
// Hangul syllables and common pictographs. None of them is a mark, joiner, jamo, regional indicator, emoji
// modifier or prepended sign, the only characters the cluster rules join with a neighbour (besides CR LF).
bool formsClusterAlone(char32_t c) {
    return c < 0x0300 || (c >= 0x0370 && c < 0x0483) || (c >= 0x3041 && c <= 0x3096) ||
           (c >= 0x30A1 && c <= 0x30FA) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7A3) ||
           (c >= 0x1F300 && c <= 0x1F3FA) || (c >= 0x1F400 && c <= 0x1F64F);
}

} // namespace

std::int64_t characterCount(const QString &text) {
    // Most texts need no segmentation tables: when every code point stands alone, the clusters are the code
    // points, except that a carriage return followed by a line feed is one.
    std::int64_t codePoints = 0;
    std::int64_t crlf = 0;
    bool simple = true;
    const qsizetype size = text.size();
    const QChar *data = text.constData();
    for (qsizetype i = 0; i < size && simple; ++i) {
        const char16_t u = data[i].unicode();
        char32_t c = u;
        if (QChar::isHighSurrogate(u) && i + 1 < size && data[i + 1].isLowSurrogate())
            c = QChar::surrogateToUcs4(u, data[++i].unicode());
        simple = formsClusterAlone(c);
        ++codePoints;
        if (c == u'\n' && i > 0 && data[i - 1].unicode() == u'\r')
            ++crlf;
    }
    if (simple)
        return codePoints - crlf;

    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    std::int64_t count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

namespace {

constexpr char32_t capitalSigma = 0x03A3;
constexpr char16_t finalSigma = 0x03C2;

char32_t codePointAt(const QString &text, qsizetype i, qsizetype *length) {
    const QChar c = text.at(i);
    if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
        *length = 2;
        return QChar::surrogateToUcs4(c, text.at(i + 1));
    }
    *length = 1;
    return c.unicode();
}

char32_t codePointBefore(const QString &text, qsizetype end, qsizetype *start) {
    const QChar c = text.at(end - 1);
    if (c.isLowSurrogate() && end >= 2 && text.at(end - 2).isHighSurrogate()) {
        *start = end - 2;
        return QChar::surrogateToUcs4(text.at(end - 2), c);
    }
    *start = end - 1;
    return c.unicode();
}

// Cased: a letter with the Lowercase, Uppercase or titlecase property, or one that has a case mapping.
bool isCased(char32_t c) {
    return QChar::isLower(c) || QChar::isUpper(c) || QChar::isTitleCase(c) || QChar::toLower(c) != c ||
           QChar::toUpper(c) != c;
}

// Case_Ignorable: marks, format characters, modifier letters and symbols, and the apostrophes and
// punctuation that may sit inside a word.
bool isCaseIgnorable(char32_t c) {
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_Enclosing:
    case QChar::Other_Format:
    case QChar::Letter_Modifier:
    case QChar::Symbol_Modifier:
        return true;
    default:
        break;
    }
    switch (c) {
    case 0x0027:
    case 0x002E:
    case 0x003A:
    case 0x00B7:
    case 0x0387:
    case 0x055F:
    case 0x05F4:
    case 0x2018:
    case 0x2019:
    case 0x2024:
    case 0x2027:
    case 0xFE13:
    case 0xFE52:
    case 0xFE55:
    case 0xFF07:
    case 0xFF0E:
    case 0xFF1A:
        return true;
    default:
        return false;
    }
}

// Whether the capital sigma at [at, at + 1) ends a word: a cased letter precedes it and none follows it,
// with case-ignorable characters skipped on both sides.
bool isFinalSigma(const QString &text, qsizetype at) {
    bool casedBefore = false;
    for (qsizetype end = at; end > 0;) {
        qsizetype start = 0;
        const char32_t c = codePointBefore(text, end, &start);
        end = start;
        if (isCaseIgnorable(c))
            continue;
        casedBefore = isCased(c);
        break;
    }
    if (!casedBefore)
        return false;
    for (qsizetype i = at + 1; i < text.size();) {
        qsizetype length = 1;
        const char32_t c = codePointAt(text, i, &length);
        i += length;
        if (isCaseIgnorable(c))
            continue;
        return !isCased(c);
    }
    return true;
}

} // namespace

QString lowercased(const QString &text) {
    if (!text.contains(QChar(static_cast<char16_t>(capitalSigma))))
        return text.toLower();
    // Qt lowercases every capital sigma to the medial form; the final form depends on the context. The
    // mapping of everything else is context-free, so the pieces between sigmas can be lowered separately.
    QString lowered;
    lowered.reserve(text.size());
    qsizetype from = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).unicode() != capitalSigma)
            continue;
        lowered += QStringView(text).sliced(from, i - from).toString().toLower();
        lowered += isFinalSigma(text, i) ? QChar(finalSigma) : QChar(static_cast<char16_t>(0x03C3));
        from = i + 1;
    }
    lowered += QStringView(text).sliced(from).toString().toLower();
    return lowered;
}

} // namespace rirudez::ConversationHandwritingReplay::ReplayText
