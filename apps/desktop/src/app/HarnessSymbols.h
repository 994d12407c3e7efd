#pragma once

// The named symbols of the conversation screen and the bundled SVG files that draw them.
// The screen asks for a symbol by name ("sidebar.left", "folder.fill", ...); this is the one table
// that maps each name to a file of the bundled Lucide icon set (ISC licence, icons/LICENSE).

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace rirudez {

struct HarnessSymbol {
    QString name; // the symbol name the screen uses
    QString file; // file name under the icons resource folder
    bool filled;  // drawn with its outline filled in (the ".fill" variants)
};

namespace HarnessSymbols {

// The entry for a symbol name, or nothing for a name the table does not know.
std::optional<HarnessSymbol> lookup(const QString &name);

// Every symbol name of the table, in table order.
QStringList names();

// The resource path of the icon folder (":/qt/qml/Rirudez/Desktop/icons").
QString resourceFolder();

// SVG source of a symbol drawn in the given colour (#rrggbb or #aarrggbb): the icon's
// "currentColor" becomes that colour, and filled variants have their shapes filled with it.
// Nothing when the name is unknown or the file is missing.
std::optional<QByteArray> tintedSvg(const QString &name, const QString &color);

} // namespace HarnessSymbols
} // namespace rirudez
