#include "DesktopShellSelection.h"

#include "rirudez/bridgekit/NameTable.h"

namespace rirudez {

namespace {

using Slot = DesktopShellSlot;

constexpr NameTable<Slot, 5> displayTitles{{{{Slot::library, u"Library"},
                                             {Slot::timeline, u"Timeline"},
                                             {Slot::canvas, u"Canvas"},
                                             {Slot::detail, u"Activity"},
                                             {Slot::utility, u"Local Models"}}}};
constexpr NameTable<Slot, 5> systemImages{{{{Slot::library, u"bubble.left.and.text.bubble.right"},
                                            {Slot::timeline, u"clock"},
                                            {Slot::canvas, u"pencil.and.outline"},
                                            {Slot::detail, u"waveform.path.ecg"},
                                            {Slot::utility, u"laptopcomputer.and.ipad"}}}};
constexpr NameTable<Slot, 5> ownerLanes{{{{Slot::library, u"library"},
                                          {Slot::timeline, u"timeline"},
                                          {Slot::canvas, u"canvasreplay"},
                                          {Slot::detail, u"bridgeactivity"},
                                          {Slot::utility, u"localmodels"}}}};

} // namespace

QString displayTitle(DesktopShellSlot slot) {
    return displayTitles.name(slot);
}

QString systemImage(DesktopShellSlot slot) {
    return systemImages.name(slot);
}

QString ownerLane(DesktopShellSlot slot) {
    return ownerLanes.name(slot);
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
