#pragma once

// Text rules of the desktop's conversation model: identifiers, trimming, and counts and cuts in
// user-perceived characters (extended grapheme clusters), never bytes or UTF-16 units.

#include <QString>
#include <QStringView>

#include <optional>

namespace rirudez {

// A fresh identifier for events, threads and sessions made on the desktop: a lower-case UUID text.
QString makeDesktopCodingID();
// The trimmed text, or nothing when that is empty.
std::optional<QString> nilIfEmpty(const QString &text);
// Whitespace runs collapsed to single spaces; longer than maxLength characters: the first maxLength
// characters, trimmed, followed by "...".
QString chatSnippet(const QString &text, qsizetype maxLength);
// Number of user-perceived characters (grapheme clusters).
qsizetype characterCount(QStringView text);
// The first `count` user-perceived characters (the whole text when it is shorter).
QString characterPrefix(QStringView text, qsizetype count);

} // namespace rirudez
