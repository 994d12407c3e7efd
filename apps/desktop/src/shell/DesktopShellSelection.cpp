#include "DesktopShellSelection.h"

using namespace Qt::StringLiterals;

namespace rirudez {

QString displayTitle(DesktopShellSlot slot) {
    switch (slot) {
    case DesktopShellSlot::library:
        return u"Library"_s;
    case DesktopShellSlot::timeline:
        return u"Timeline"_s;
    case DesktopShellSlot::canvas:
        return u"Canvas"_s;
    case DesktopShellSlot::detail:
        return u"Activity"_s;
    case DesktopShellSlot::utility:
        return u"Local Models"_s;
    }
    return {};
}

QString systemImage(DesktopShellSlot slot) {
    switch (slot) {
    case DesktopShellSlot::library:
        return u"bubble.left.and.text.bubble.right"_s;
    case DesktopShellSlot::timeline:
        return u"clock"_s;
    case DesktopShellSlot::canvas:
        return u"pencil.and.outline"_s;
    case DesktopShellSlot::detail:
        return u"waveform.path.ecg"_s;
    case DesktopShellSlot::utility:
        return u"laptopcomputer.and.ipad"_s;
    }
    return {};
}

QString ownerLane(DesktopShellSlot slot) {
    switch (slot) {
    case DesktopShellSlot::library:
        return u"library"_s;
    case DesktopShellSlot::timeline:
        return u"timeline"_s;
    case DesktopShellSlot::canvas:
        return u"canvasreplay"_s;
    case DesktopShellSlot::detail:
        return u"bridgeactivity"_s;
    case DesktopShellSlot::utility:
        return u"localmodels"_s;
    }
    return {};
}

DesktopShellSelection::DesktopShellSelection(std::optional<DesktopShellLibrarySelection> librarySelection,
                                             std::optional<DesktopShellTimelineSelection> timelineSelection,
                                             std::optional<DesktopShellUtilitySlot> activeUtilitySlot,
                                             bool isSidebarVisible, QObject *parent)
    : QObject(parent), m_library(std::move(librarySelection)), m_timeline(std::move(timelineSelection)),
      m_utility(activeUtilitySlot), m_sidebarVisible(isSidebarVisible) {}

void DesktopShellSelection::setLibrarySelection(std::optional<DesktopShellLibrarySelection> value) {
    if (value == m_library)
        return;
    m_library = std::move(value);
    Q_EMIT changed();
}

void DesktopShellSelection::setTimelineSelection(std::optional<DesktopShellTimelineSelection> value) {
    if (value == m_timeline)
        return;
    m_timeline = std::move(value);
    Q_EMIT changed();
}

void DesktopShellSelection::setActiveUtilitySlot(std::optional<DesktopShellUtilitySlot> value) {
    if (value == m_utility)
        return;
    m_utility = value;
    Q_EMIT changed();
}

void DesktopShellSelection::setSidebarVisible(bool visible) {
    if (visible == m_sidebarVisible)
        return;
    m_sidebarVisible = visible;
    Q_EMIT changed();
}

} // namespace rirudez
