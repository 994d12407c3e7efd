#pragma once

// The Unicode text rules of the replay layout: trimming and splitting by the Unicode whitespace-and-newline
// set, character counts in extended grapheme clusters, and locale-independent lowercasing.

#include <QString>
#include <QStringView>

#include <cstdint>

namespace rirudez::ConversationHandwritingReplay::ReplayText {

// A character of the Unicode White_Space set (spaces, tabs, line and paragraph separators, …).
bool isWhitespaceOrNewline(QChar c);
// A character of the newline set: U+000A … U+000D, U+0085, U+2028, U+2029.
bool isNewline(QChar c);

// The text without leading and trailing whitespace and newlines.
QString trimmed(const QString &text);
// Nothing but whitespace and newlines (or empty).
bool isBlank(QStringView text);

// User-perceived characters (extended grapheme clusters) of the text as given.
std::int64_t characterCount(const QString &text);

// The default Unicode lowercase mapping, independent of any locale, including the context rule that turns a
// capital sigma at the end of a word into a final sigma.
QString lowercased(const QString &text);

} // namespace rirudez::ConversationHandwritingReplay::ReplayText
