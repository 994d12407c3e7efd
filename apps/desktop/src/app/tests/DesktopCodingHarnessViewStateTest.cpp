// The screen's own rules in C++: the activity line's plural, the subtitle, the symbol table against the
// bundled icons and against every symbol name the QML files use, the transcript and picker toggles, and the
// tables the QML reads (event kinds and their styles, the mode, agent and rail-action options).

#include "DesktopCodingHarnessViewState.h"
#include "DesktopCodingHarnessModels.h"
#include "HarnessLabels.h"
#include "HarnessPalette.h"
#include "HarnessSymbols.h"
#include "SymbolImageProvider.h"

#include <QDir>
#include <QFile>
#include <QMetaEnum>
#include <QRegularExpression>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace rirudez {
namespace {

struct CountCase {
    int count;
    const char *line;
};

class ActivityCountLineTest : public ::testing::TestWithParam<CountCase> {};

TEST_P(ActivityCountLineTest, CountsBridgeEventsWithAPluralUnlessOne) {
    DesktopCodingHarnessViewState state;
    EXPECT_EQ(state.activityCountLine(GetParam().count), QString::fromUtf8(GetParam().line));
}

INSTANTIATE_TEST_SUITE_P(Counts, ActivityCountLineTest,
                         ::testing::Values(CountCase{1, "1 bridge event"}, CountCase{2, "2 bridge events"},
                                           CountCase{0, "0 bridge events"},
                                           CountCase{11, "11 bridge events"}));

// The composer's count is of the trimmed prompt in user-perceived characters.
TEST(DesktopCodingHarnessViewStateTest, CharacterCountCountsWhatTheUserSeesOfTheTrimmedPrompt) {
    const struct {
        QString prompt;
        const char *count;
    } cases[] = {
        {u"fix it"_s, "6"},
        {u"  fix it \n"_s, "6"},
        {u" \t\n"_s, "0"},
        {u"ok 👍"_s, "4"},               // an emoji outside the BMP (two UTF-16 units)
        {u"👨‍👩‍👧"_s, "1"}, // a family joined by zero-width joiners
        {u"e\u0301"_s, "1"},            // a letter with a combining accent
        {u"🇫🇷🇯🇵"_s, "2"},               // two flags
    };
    DesktopCodingHarnessViewState state;
    for (const auto &c : cases)
        EXPECT_EQ(state.characterCount(c.prompt), QString::fromUtf8(c.count)) << qPrintable(c.prompt);
}

TEST(DesktopCodingHarnessViewStateTest, SubtitleDropsAbsentPartsAndJoinsWithSlashes) {
    DesktopCodingHarnessViewState state;
    EXPECT_EQ(state.sessionSubtitle(u"demo"_s, u"gpt-5.5"_s, u"auto"_s), u"demo / gpt-5.5 / auto"_s);
    EXPECT_EQ(state.sessionSubtitle({}, u"gpt-5.5"_s, u"ask"_s), u"gpt-5.5 / ask"_s);
    EXPECT_EQ(state.sessionSubtitle({}, {}, u"bypass_permissions"_s), u"bypass_permissions"_s);
}

TEST(DesktopCodingHarnessViewStateTest, TogglingAPickerOpensClosesOrReplacesIt) {
    DesktopCodingHarnessViewState state;
    using Picker = DesktopCodingHarnessViewState::ComposerPicker;
    QSignalSpy changes(&state, &DesktopCodingHarnessViewState::composerPickerChanged);
    EXPECT_EQ(state.composerPicker(), Picker::none);
    state.toggleComposerPicker(Picker::model);
    EXPECT_EQ(state.composerPicker(), Picker::model);
    state.toggleComposerPicker(Picker::thinking);
    EXPECT_EQ(state.composerPicker(), Picker::thinking);
    state.toggleComposerPicker(Picker::thinking);
    EXPECT_EQ(state.composerPicker(), Picker::none);
    state.toggleComposerPicker(Picker::model);
    state.toggleComposerPicker(Picker::none);
    EXPECT_EQ(state.composerPicker(), Picker::none);
    state.closeComposerPicker();
    EXPECT_EQ(changes.count(), 5);
    state.toggleTranscript(u"e1"_s);
    EXPECT_TRUE(state.showsTranscript(u"e1"_s));
    state.toggleTranscript(u"e1"_s);
    EXPECT_FALSE(state.showsTranscript(u"e1"_s));
    EXPECT_TRUE(state.beginInitialBridgeRefresh());
    EXPECT_FALSE(state.beginInitialBridgeRefresh());
}

// Every symbol of the table exists as a bundled icon and draws something in the requested colour.
class SymbolTableTest : public ::testing::TestWithParam<QString> {};

TEST_P(SymbolTableTest, DrawsTheBundledIconInTheRequestedColour) {
    const auto symbol = HarnessSymbols::lookup(GetParam());
    ASSERT_TRUE(symbol.has_value());
    ASSERT_TRUE(QFile::exists(HarnessSymbols::resourceFolder() + u'/' + symbol->file))
        << symbol->file.toStdString();
    SymbolImageProvider provider;
    QSize size;
    const QImage image = provider.requestImage(GetParam() + u"/ffe8301f"_s, &size, QSize(32, 32));
    EXPECT_EQ(size, QSize(32, 32));
    int inked = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() == 255) {
                ++inked;
                // Premultiplied blending of overlapping strokes may round a channel by one.
                EXPECT_LE(std::abs(pixel.red() - 0xe8) + std::abs(pixel.green() - 0x30) +
                              std::abs(pixel.blue() - 0x1f),
                          3)
                    << pixel.name().toStdString();
            }
        }
    }
    EXPECT_GT(inked, 10);
}

INSTANTIATE_TEST_SUITE_P(Table, SymbolTableTest, ::testing::ValuesIn(HarnessSymbols::names()),
                         [](const ::testing::TestParamInfo<QString> &testInfo) {
                             QString name = testInfo.param;
                             return name.replace(u'.', u'_').toStdString();
                         });

TEST(SymbolTableTest, EveryFilledSymbolFillsMoreThanItsOutline) {
    SymbolImageProvider provider;
    auto inked = [&](const QString &name) {
        QSize size;
        const QImage image = provider.requestImage(name + u"/ff000000"_s, &size, QSize(32, 32));
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                count += image.pixelColor(x, y).alpha() > 128;
        return count;
    };
    EXPECT_GT(inked(u"folder.fill"_s), inked(u"folder"_s) + 50);
    EXPECT_EQ(HarnessSymbols::lookup(u"no.such.symbol"_s), std::nullopt);
}

// The provider keeps what it drew: a symbol asked for again in another colour or size is drawn in that
// colour and size, not handed back as it was kept.
TEST(SymbolTableTest, KeptDrawingsAreKeptPerColourAndSize) {
    SymbolImageProvider provider;
    // Whether the symbol comes back at that size with its opaque pixels in that colour.
    const auto drawnIn = [&](const QString &colour, int side) {
        QSize size;
        const QImage image = provider.requestImage(u"folder.fill/ff"_s + colour, &size, QSize(side, side));
        const QColor wanted(u'#' + colour);
        int opaque = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (const QColor pixel = image.pixelColor(x, y); pixel.alpha() == 255) {
                    ++opaque;
                    if (std::abs(pixel.red() - wanted.red()) + std::abs(pixel.green() - wanted.green()) +
                            std::abs(pixel.blue() - wanted.blue()) >
                        3)
                        return false;
                }
        return size == QSize(side, side) && image.size() == size && opaque > 10;
    };
    for (int round = 0; round < 2; ++round) {
        EXPECT_TRUE(drawnIn(u"e8301f"_s, 32));
        EXPECT_TRUE(drawnIn(u"1f30e8"_s, 32));
        EXPECT_TRUE(drawnIn(u"e8301f"_s, 20));
    }
}

// Every literal symbol name in the QML files is one the table knows (a missing one draws nothing).
TEST(SymbolTableTest, EverySymbolNameTheScreenUsesIsInTheTable) {
    const QDir qmlDir(QStringLiteral(RIRUDEZ_APP_QML_DIR));
    const QStringList files = qmlDir.entryList({u"*.qml"_s}, QDir::Files);
    ASSERT_FALSE(files.isEmpty());
    const QRegularExpression quoted(uR"re("([a-z0-9]+(?:\.[a-z0-9]+)+)")re"_s);
    int checked = 0;
    for (const QString &file : files) {
        QFile source(qmlDir.filePath(file));
        ASSERT_TRUE(source.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(source.readAll());
        for (const QString &line : text.split(u'\n')) {
            if (!line.contains(u"symbol"_s) && !line.contains(u"name:"_s) &&
                !line.contains(u"image://symbol/"_s))
                continue;
            auto matches = quoted.globalMatch(line);
            while (matches.hasNext()) {
                const QString name = matches.next().captured(1);
                if (name.endsWith(u".qml"_s))
                    continue;
                ++checked;
                EXPECT_TRUE(HarnessSymbols::lookup(name).has_value())
                    << file.toStdString() << ": " << name.toStdString();
            }
        }
    }
    EXPECT_GT(checked, 20);
}

// Every kind of event reaches QML under its case name (the delegate chooser and the rows compare with
// EventKind.<case>) and is drawn with a symbol of the table, a name and a tint of the palette.
TEST(EventKindTest, EveryKindHasItsQmlNameASymbolANameAndAPaletteTint) {
    const QMetaEnum kinds = QMetaEnum::fromType<DesktopCodingEventKind>();
    ASSERT_EQ(kinds.keyCount(), int(allDesktopCodingEventKinds.size()));
    const QList<QColor> palette{HarnessPalette::red(), HarnessPalette::teal(), HarnessPalette::brown(),
                                HarnessPalette::green(), HarnessPalette::orange()};
    DesktopCodingHarnessViewState state;
    for (DesktopCodingEventKind kind : allDesktopCodingEventKinds) {
        SCOPED_TRACE(rawValue(kind).toStdString());
        EXPECT_EQ(QString::fromLatin1(kinds.valueToKey(int(kind))), rawValue(kind));
        const QVariantMap style = state.eventStyleMap(int(kind));
        EXPECT_TRUE(HarnessSymbols::lookup(style.value(u"symbol"_s).toString()).has_value());
        EXPECT_FALSE(style.value(u"name"_s).toString().isEmpty());
        EXPECT_TRUE(palette.contains(style.value(u"tint"_s).value<QColor>()));
    }
    // Only the agent's answers are Markdown, and only the user's messages sit in a framed panel.
    for (DesktopCodingEventKind kind : allDesktopCodingEventKinds) {
        const HarnessEventStyle style = DesktopCodingHarnessViewState::eventStyle(kind);
        EXPECT_EQ(style.markdown,
                  kind == DesktopCodingEventKind::assistantText || kind == DesktopCodingEventKind::completed)
            << rawValue(kind).toStdString();
        EXPECT_EQ(style.framed, kind == DesktopCodingEventKind::userMessage) << rawValue(kind).toStdString();
    }
}

// Every option the screen lists has a label and a symbol of the table; the modes and agents are exactly the
// ones the view model knows, in its order.
TEST(OptionTableTest, EveryModeAgentAndRailActionHasALabelAndAKnownSymbol) {
    struct Table {
        const char *name;
        QVariantList options;
        QStringList ids;
    };
    QStringList modeIDs, agentIDs;
    for (DesktopCodingRuntimeMode mode : allDesktopCodingRuntimeModes)
        modeIDs.append(id(mode));
    for (DesktopCodingAgent agent : allDesktopCodingAgents)
        agentIDs.append(id(agent));
    const Table tables[] = {{"modes", HarnessLabels::runtimeModeOptions(), modeIDs},
                            {"agents", HarnessLabels::agentOptions(), agentIDs},
                            {"rail", HarnessLabels::railActions(), {}}};
    for (const Table &table : tables) {
        SCOPED_TRACE(table.name);
        ASSERT_FALSE(table.options.isEmpty());
        QStringList ids;
        for (const QVariant &option : table.options) {
            const QVariantMap map = option.toMap();
            EXPECT_FALSE(map.value(u"title"_s).toString().isEmpty());
            EXPECT_TRUE(HarnessSymbols::lookup(map.value(u"symbol"_s).toString()).has_value())
                << map.value(u"symbol"_s).toString().toStdString();
            if (map.contains(u"id"_s))
                ids.append(map.value(u"id"_s).toString());
        }
        EXPECT_EQ(ids, table.ids);
    }
}

} // namespace
} // namespace rirudez
