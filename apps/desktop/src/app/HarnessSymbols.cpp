#include "HarnessSymbols.h"

#include <QColor>
#include <QFile>

#include <array>

using namespace Qt::StringLiterals;

namespace rirudez::HarnessSymbols {
namespace {

struct Row {
    const char16_t *name;
    const char16_t *file;
    bool filled;
};

// clang-format off
constexpr std::array table{
    // layout and rails
    Row{u"sidebar.left",                            u"panel-left.svg",          false},
    Row{u"sidebar.right",                           u"panel-right.svg",         false},
    Row{u"slider.horizontal.3",                     u"sliders-horizontal.svg",  false},
    // project rail
    Row{u"square.and.pencil",                       u"square-pen.svg",          false},
    Row{u"magnifyingglass",                         u"search.svg",              false},
    Row{u"circle.grid.2x2",                         u"grid-2x2.svg",            false},
    Row{u"clock",                                   u"clock.svg",               false},
    Row{u"laptopcomputer.and.ipad",                 u"monitor-smartphone.svg",  false},
    Row{u"waveform.path.ecg",                       u"activity.svg",            false},
    Row{u"folder",                                  u"folder.svg",              false},
    Row{u"folder.fill",                             u"folder.svg",              true},
    Row{u"pencil.and.outline",                      u"pencil-line.svg",         false},
    Row{u"bubble.left.and.text.bubble.right",       u"messages-square.svg",     false},
    Row{u"bubble.left.and.text.bubble.right.fill",  u"messages-square.svg",     true},
    // session header
    Row{u"chevron.left.forwardslash.chevron.right", u"code-xml.svg",            false},
    Row{u"c.circle",                                u"copyright.svg",           false},
    Row{u"eye",                                     u"eye.svg",                 false},
    Row{u"lock.open",                               u"lock-open.svg",           false},
    Row{u"plus.bubble",                             u"message-square-plus.svg", false},
    // conversation
    Row{u"bubble.left.and.bubble.right",            u"messages-square.svg",     false},
    Row{u"person.crop.circle",                      u"circle-user.svg",         false},
    Row{u"progress.indicator",                      u"loader.svg",              false},
    Row{u"wrench.and.screwdriver",                  u"wrench.svg",              false},
    Row{u"terminal",                                u"terminal.svg",            false},
    Row{u"hand.raised",                             u"hand.svg",                false},
    Row{u"doc.badge.plus",                          u"file-plus.svg",           false},
    Row{u"doc.text.magnifyingglass",                u"file-search.svg",         false},
    Row{u"text.bubble",                             u"message-square-text.svg", false},
    Row{u"exclamationmark.triangle",                u"triangle-alert.svg",      false},
    Row{u"checkmark",                               u"check.svg",               false},
    Row{u"xmark",                                   u"x.svg",                   false},
    Row{u"photo",                                   u"image.svg",               false},
    Row{u"text.viewfinder",                         u"scan-text.svg",           false},
    // composer and inspector
    Row{u"plus",                                    u"plus.svg",                false},
    Row{u"bolt",                                    u"zap.svg",                 false},
    Row{u"brain",                                   u"brain.svg",               false},
    Row{u"stop.fill",                               u"square.svg",              true},
    Row{u"arrow.up",                                u"arrow-up.svg",            false},
    Row{u"shippingbox",                             u"package.svg",             false},
    Row{u"globe",                                   u"globe.svg",               false},
};
// clang-format on

} // namespace

std::optional<HarnessSymbol> lookup(const QString &name) {
    for (const Row &row : table) {
        if (name == QStringView(row.name))
            return HarnessSymbol{QString::fromUtf16(row.name), QString::fromUtf16(row.file), row.filled};
    }
    return std::nullopt;
}

QStringList names() {
    QStringList result;
    result.reserve(qsizetype(table.size()));
    for (const Row &row : table)
        result.append(QString::fromUtf16(row.name));
    return result;
}

QString resourceFolder() {
    return u":/qt/qml/Rirudez/Desktop/icons"_s;
}

std::optional<QByteArray> tintedSvg(const QString &name, const QString &color) {
    const auto symbol = lookup(name);
    if (!symbol)
        return std::nullopt;
    QFile file(resourceFolder() + u'/' + symbol->file);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray svg = file.readAll();

    // The SVG renderer takes colours as #rrggbb plus a separate opacity.
    QColor parsed = QColor::fromString(color);
    if (!parsed.isValid())
        parsed = QColor(Qt::black);
    const QByteArray rgb = parsed.name(QColor::HexRgb).toLatin1();
    svg.replace("currentColor", rgb);
    if (symbol->filled)
        svg.replace("fill=\"none\"", "fill=\"" + rgb + "\"");
    if (parsed.alpha() != 255) {
        const QByteArray opacity = QByteArray::number(parsed.alphaF(), 'f', 3);
        svg.replace("<svg", "<svg opacity=\"" + opacity + "\"");
    }
    return svg;
}

} // namespace rirudez::HarnessSymbols
