#pragma once

// The conversation screen's fixed colours: the one palette of the screen, read by the QML files as the
// singleton HarnessPalette and by the C++ rules that pick a colour (the tints of conversation rows). The
// screen always renders in this light scheme, whatever the platform's.

#include <QColor>
#include <QObject>
#include <QtQml/qqmlregistration.h>

namespace rirudez {

class HarnessPalette : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QColor paper READ paper CONSTANT)
    Q_PROPERTY(QColor center READ center CONSTANT)
    Q_PROPERTY(QColor rail READ rail CONSTANT)
    Q_PROPERTY(QColor inspector READ inspector CONSTANT)
    Q_PROPERTY(QColor panel READ panel CONSTANT)
    Q_PROPERTY(QColor panelStrong READ panelStrong CONSTANT)
    Q_PROPERTY(QColor ink READ ink CONSTANT)
    Q_PROPERTY(QColor muted READ muted CONSTANT)
    Q_PROPERTY(QColor faint READ faint CONSTANT)
    Q_PROPERTY(QColor red READ red CONSTANT)
    Q_PROPERTY(QColor selected READ selected CONSTANT)
    Q_PROPERTY(QColor sidebarInk READ sidebarInk CONSTANT)
    Q_PROPERTY(QColor sidebarMuted READ sidebarMuted CONSTANT)
    Q_PROPERTY(QColor sidebarFaint READ sidebarFaint CONSTANT)
    Q_PROPERTY(QColor sidebarSelected READ sidebarSelected CONSTANT)
    Q_PROPERTY(QColor border READ border CONSTANT)
    Q_PROPERTY(QColor teal READ teal CONSTANT)
    Q_PROPERTY(QColor onDark READ onDark CONSTANT)
    Q_PROPERTY(QColor onDarkMuted READ onDarkMuted CONSTANT)
    Q_PROPERTY(QColor shadeFaint READ shadeFaint CONSTANT)
    Q_PROPERTY(QColor shadeRow READ shadeRow CONSTANT)
    Q_PROPERTY(QColor shadeHover READ shadeHover CONSTANT)
    Q_PROPERTY(QColor shadeHoverStrong READ shadeHoverStrong CONSTANT)
    Q_PROPERTY(QColor shade READ shade CONSTANT)
    Q_PROPERTY(QColor shadePressed READ shadePressed CONSTANT)
    Q_PROPERTY(QColor shadeBorder READ shadeBorder CONSTANT)
    Q_PROPERTY(QColor shadeDisabled READ shadeDisabled CONSTANT)
    Q_PROPERTY(QColor shadeOff READ shadeOff CONSTANT)
    Q_PROPERTY(QColor sidebarHover READ sidebarHover CONSTANT)
    Q_PROPERTY(QColor optionHover READ optionHover CONSTANT)
    Q_PROPERTY(QColor selection READ selection CONSTANT)
    Q_PROPERTY(QColor focusBorder READ focusBorder CONSTANT)
    Q_PROPERTY(QColor redPressed READ redPressed CONSTANT)
    Q_PROPERTY(QColor redBorder READ redBorder CONSTANT)
    Q_PROPERTY(QColor brown READ brown CONSTANT)
    Q_PROPERTY(QColor green READ green CONSTANT)
    Q_PROPERTY(QColor orange READ orange CONSTANT)

public:
    explicit HarnessPalette(QObject *parent = nullptr) : QObject(parent) {}

    static QColor paper() { return QColor::fromRgbF(0.95f, 0.96f, 0.94f, 1.0f); }
    static QColor center() { return QColor::fromRgbF(0.99f, 0.99f, 0.97f, 1.0f); }
    static QColor rail() { return QColor::fromRgbF(0.27f, 0.28f, 0.27f, 1.0f); }
    static QColor inspector() { return QColor::fromRgbF(0.88f, 0.91f, 0.89f, 1.0f); }
    static QColor panel() { return QColor::fromRgbF(0.99f, 0.99f, 0.96f, 1.0f); }
    static QColor panelStrong() { return QColor::fromRgbF(1.0f, 1.0f, 0.98f, 1.0f); }
    static QColor ink() { return QColor::fromRgbF(0.06f, 0.08f, 0.06f, 1.0f); }
    static QColor muted() { return QColor::fromRgbF(0.28f, 0.34f, 0.31f, 1.0f); }
    static QColor faint() { return QColor::fromRgbF(0.55f, 0.58f, 0.52f, 1.0f); }
    static QColor red() { return QColor::fromRgbF(0.91f, 0.19f, 0.13f, 1.0f); }
    static QColor selected() { return QColor::fromRgbF(0.03f, 0.05f, 0.03f, 1.0f); }
    static QColor sidebarInk() { return QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.9f); }
    static QColor sidebarMuted() { return QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.58f); }
    static QColor sidebarFaint() { return QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.42f); }
    static QColor sidebarSelected() { return QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.13f); }
    static QColor border() { return QColor::fromRgbF(0.0f, 0.0f, 0.0f, 0.22f); }
    // Tint of status, tool, command, file and assistant rows; also the accent of the composer.
    static QColor teal() { return QColor::fromRgbF(0.04f, 0.34f, 0.30f, 1.0f); }
    // Text and symbols drawn on a dark or tinted fill (selected chips, the send button, the approve button).
    static QColor onDark() { return QColor(Qt::white); }
    static QColor onDarkMuted() { return QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.7f); }
    // Shades laid over the light panels: rows, hovers, pressed and disabled controls.
    static QColor shadeFaint() { return QColor::fromRgbF(0.0f, 0.0f, 0.0f, 0.02f); }
    static QColor shadeRow() { return QColor::fromRgbF(0.0f, 0.0f, 0.0f, 0.025f); }
    static QColor shadeHover() { return QColor::fromRgbF(0.0f, 0.0f, 0.0f, 0.04f); }
    static QColor shadeHoverStrong() { return QColor::fromRgbF(0.0f, 0.0f, 0.0f, 0.05f); }
    static QColor shade() { return QColor::fromRgbF(0.0f, 0.0f, 0.0f, 0.06f); }
    static QColor shadePressed() { return QColor::fromRgbF(0.0f, 0.0f, 0.0f, 0.08f); }
    static QColor shadeBorder() { return QColor::fromRgbF(0.0f, 0.0f, 0.0f, 0.12f); }
    static QColor shadeDisabled() { return QColor::fromRgbF(0.0f, 0.0f, 0.0f, 0.15f); }
    static QColor shadeOff() { return QColor::fromRgbF(0.0f, 0.0f, 0.0f, 0.18f); }
    // Light shades laid over the dark rail and the inspector.
    static QColor sidebarHover() { return QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.06f); }
    static QColor optionHover() { return QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.45f); }
    // Text selection and the focused editor's border, in the accent.
    static QColor selection() { return QColor::fromRgbF(0.04f, 0.34f, 0.30f, 0.25f); }
    static QColor focusBorder() { return QColor::fromRgbF(0.04f, 0.34f, 0.30f, 0.55f); }
    // The Deny button's pressed fill and border.
    static QColor redPressed() { return QColor::fromRgbF(0.91f, 0.19f, 0.13f, 0.12f); }
    static QColor redBorder() { return QColor::fromRgbF(0.91f, 0.19f, 0.13f, 0.5f); }
    // The tints of diff rows, finished answers and failures.
    static QColor brown() { return QColor::fromRgbF(0.46f, 0.26f, 0.06f, 1.0f); }
    static QColor green() { return QColor::fromRgb(52, 199, 89); }
    static QColor orange() { return QColor::fromRgb(255, 149, 0); }
};

} // namespace rirudez
