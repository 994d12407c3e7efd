// Counting and cutting text by user-perceived characters, with a fast path for plain ASCII.
#include "DesktopCodingText.h"

#include <QStringList>
#include <QTextBoundaryFinder>
#include <QUuid>

#include <algorithm>
#include <utility>

namespace rirudez {
using namespace Qt::StringLiterals;

namespace {

// True when every code unit is printable ASCII: then each code unit is one user-perceived character
// (only CR LF would join two ASCII units into one cluster, and CR is not printable).
bool isPlainAscii(QStringView text) {
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7f; });
}

// Calls `visit(start, end)` for every grapheme cluster of `text`, in order, until it returns false.
template <typename Visit>
void forEachCharacter(QStringView text, Visit visit) {
    if (text.isEmpty())
        return;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), text.size());
    qsizetype start = 0;
    for (qsizetype end = finder.toNextBoundary(); end != -1; end = finder.toNextBoundary()) {
        if (end <= start)
            continue;
        if (!visit(start, end))
            return;
        start = end;
    }
}

// The first code point of a cluster decides whether it separates words.
bool startsWithWhitespace(QStringView cluster) {
    if (cluster.isEmpty())
        return false;
    const char32_t first = QChar::isHighSurrogate(cluster.front().unicode()) && cluster.size() > 1
                               ? QChar::surrogateToUcs4(cluster[0], cluster[1])
                               : cluster.front().unicode();
    return QChar::isSpace(first);
}

} // namespace

QString makeDesktopCodingID() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

std::optional<QString> nilIfEmpty(const QString &text) {
    QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    return trimmed;
}

qsizetype characterCount(QStringView text) {
    if (isPlainAscii(text))
        return text.size();
    qsizetype count = 0;
    forEachCharacter(text, [&](qsizetype, qsizetype) {
        ++count;
        return true;
    });
    return count;
}

QString characterPrefix(QStringView text, qsizetype count) {
    if (count <= 0)
        return {};
    if (isPlainAscii(text))
        return text.left(count).toString();
    qsizetype taken = 0;
    qsizetype cut = 0;
    forEachCharacter(text, [&](qsizetype, qsizetype end) {
        cut = end;
        return ++taken < count;
    });
    return text.left(cut).toString();
}

QString chatSnippet(const QString &text, qsizetype maxLength) {
    QStringList words;
    QString current;
    forEachCharacter(text, [&](qsizetype start, qsizetype end) {
        const QStringView cluster = QStringView(text).mid(start, end - start);
        if (startsWithWhitespace(cluster)) {
            if (!current.isEmpty())
                words.append(std::exchange(current, QString()));
        } else {
            current += cluster;
        }
        return true;
    });
    if (!current.isEmpty())
        words.append(current);
    const QString joined = words.join(u' ');
    if (characterCount(joined) <= maxLength)
        return joined;
    return characterPrefix(joined, maxLength).trimmed() + u"..."_s;
}

} // namespace rirudez
