// The Unicode rules of the layout: trimming, blank texts, grapheme counts and lowercasing.
#include "ReplayText.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <QTextBoundaryFinder>

#include <random>

using namespace rirudez::ConversationHandwritingReplay;
using namespace Qt::StringLiterals;

namespace {

TEST(ReplayText, CharacterCountsAreExtendedGraphemeClusters) {
    const std::pair<QString, std::int64_t> cases[] = {
        {u""_s, 0},
        {u"abc"_s, 3},
        {u"a\r\nb"_s, 3}, // CR LF is one character
        {u"\r\r\n\n"_s, 3},
        {u"\t\u007F x"_s, 4},
        {u"e\u0301"_s, 1}, // combining accent
        {u"\u0301"_s, 1},
        {u"\U0001F44D\U0001F3FD"_s, 1},                       // emoji with skin tone
        {u"\U0001F468\u200D\U0001F469\u200D\U0001F467"_s, 1}, // joined family
        {u"\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7"_s, 2},   // two flags
        {u"\uD55C\uAD6D\uC5B4"_s, 3},                         // precomposed Hangul
        {u"\u1100\u1161\u11A8"_s, 1},                         // Hangul jamo
        {u"a\u200Db"_s, 2},
        {u"\u00E9t\u00E9\r\n"_s, 4},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(ReplayText::characterCount(text), expected) << text.toStdString();
}

// Texts mixing characters that stand alone with ones that join their neighbours (marks, joiners, jamo,
// modifiers, regional indicators, prepended signs, lone surrogates) count as full segmentation counts them.
TEST(ReplayText, CharacterCountAgreesWithFullSegmentation) {
    const QString pieces[] = {u"a"_s,
                              u"\r"_s,
                              u"\n"_s,
                              u"\u00E9"_s,
                              u"\u0301"_s,
                              u"\u0398"_s,
                              u"\u0416\u0483"_s,
                              u"\u304B"_s,
                              u"\u3099"_s,
                              u"\u6F22"_s,
                              u"\uD55C"_s,
                              u"\u11A8"_s,
                              u"\u1100"_s,
                              u"\U0001F44B"_s,
                              u"\U0001F3FD"_s,
                              u"\u200D"_s,
                              u"\U0001F1E9"_s,
                              u"\uFE0F"_s,
                              u"\u0600"_s,
                              u"\u0915\u094D"_s,
                              QString(QChar(0xD800)),
                              u"\u00AD"_s,
                              u" "_s,
                              u"\U0001F468"_s};
    std::mt19937 rng(7);
    for (int round = 0; round < 3000; ++round) {
        QString text;
        for (int n = std::uniform_int_distribution<int>(0, 8)(rng); n > 0; --n)
            text += pieces[std::uniform_int_distribution<std::size_t>(0, std::size(pieces) - 1)(rng)];
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
        std::int64_t clusters = 0;
        while (finder.toNextBoundary() > 0)
            ++clusters;
        ASSERT_EQ(ReplayText::characterCount(text), clusters) << text.toStdString();
    }
}

TEST(ReplayText, TrimmingAndBlanknessUseTheWhitespaceAndNewlineSet) {
    EXPECT_EQ(ReplayText::trimmed(u" \u3000\u2028x y\u00A0\n\u0085\u202F"_s), u"x y"_s);
    EXPECT_EQ(ReplayText::trimmed(u"\u200Bx\u200B"_s), u"\u200Bx\u200B"_s);
    for (const QString &blank : {u""_s, u" "_s, u"\t\n\r\u000B\u000C"_s, u"\u0085\u00A0\u1680\u2000\u200A"_s,
                                 u"\u2028\u2029\u202F\u205F\u3000"_s})
        EXPECT_TRUE(ReplayText::isBlank(blank)) << blank.toStdString();
    for (const QString &text : {u"\u200B"_s, u"\u180E"_s, u" . "_s, u"\uFEFF"_s})
        EXPECT_FALSE(ReplayText::isBlank(text)) << text.toStdString();
}

TEST(ReplayText, LowercasingIsLocaleIndependentWithFinalSigma) {
    const std::pair<QString, QString> cases[] = {
        {u"HeLLo WORLD"_s, u"hello world"_s},
        {u"\u00C0\u00C9\u00D6"_s, u"\u00E0\u00E9\u00F6"_s},
        {u"I\u0130"_s, u"ii\u0307"_s},      // dotted capital I keeps its dot as a mark
        {u"\u01C5"_s, u"\u01C6"_s},         // titlecase digraph
        {u"\U00010400"_s, u"\U00010428"_s}, // outside the basic plane
        {u"\u039F\u0394\u039F\u03A3"_s, u"\u03BF\u03B4\u03BF\u03C2"_s},
        {u"\u039F\u0394\u039F\u03A3."_s, u"\u03BF\u03B4\u03BF\u03C2."_s},
        {u"\u039F\u03A3\u0301 \u0391"_s, u"\u03BF\u03C2\u0301 \u03B1"_s},
        {u"\u039F\u03A3\u039F"_s, u"\u03BF\u03C3\u03BF"_s},
        {u"\u03A3"_s, u"\u03C3"_s}, // nothing cased before it
        {u" \u03A3\u0391"_s, u" \u03C3\u03B1"_s},
        {u"\u039F\u03A3'\u0391"_s, u"\u03BF\u03C3'\u03B1"_s}, // the apostrophe is inside the word
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(ReplayText::lowercased(text), expected) << text.toStdString();

    // A Turkish default locale changes nothing.
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::Turkish, QLocale::Turkey));
    EXPECT_EQ(ReplayText::lowercased(u"TITLE I"_s), u"title i"_s);
    QLocale::setDefault(previous);
}

} // namespace
