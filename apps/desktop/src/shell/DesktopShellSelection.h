#pragma once

// What the shell has selected: a library entry, a timeline turn, the open utility sheet, and whether the
// library sidebar shows. Also the shell's columns (DesktopShellSlot).

#include <QObject>
#include <QString>

#include <optional>

namespace rirudez {

struct DesktopShellLibrarySelection {
    QString id;
    bool operator==(const DesktopShellLibrarySelection &) const = default;
};

struct DesktopShellTimelineSelection {
    QString id;
    bool operator==(const DesktopShellTimelineSelection &) const = default;
};

enum class DesktopShellUtilitySlot { localModels };

// The shell's columns and sheet. Titles: "Library", "Timeline", "Canvas", "Activity", "Local Models"; the
// owner lane names the feature folder that fills it.
enum class DesktopShellSlot { library, timeline, canvas, detail, utility };
QString displayTitle(DesktopShellSlot slot);
QString systemImage(DesktopShellSlot slot);
QString ownerLane(DesktopShellSlot slot);

class DesktopShellSelection : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString libraryID READ libraryID NOTIFY changed)
    Q_PROPERTY(QString timelineID READ timelineID NOTIFY changed)
    Q_PROPERTY(bool isLocalModelsOpen READ isLocalModelsOpen NOTIFY changed)
    Q_PROPERTY(bool isSidebarVisible READ isSidebarVisible NOTIFY changed)

public:
    DesktopShellSelection(std::optional<DesktopShellLibrarySelection> librarySelection,
                          std::optional<DesktopShellTimelineSelection> timelineSelection,
                          std::optional<DesktopShellUtilitySlot> activeUtilitySlot, bool isSidebarVisible,
                          QObject *parent = nullptr);

    const std::optional<DesktopShellLibrarySelection> &librarySelection() const { return m_library; }
    const std::optional<DesktopShellTimelineSelection> &timelineSelection() const { return m_timeline; }
    const std::optional<DesktopShellUtilitySlot> &activeUtilitySlot() const { return m_utility; }
    bool isSidebarVisible() const { return m_sidebarVisible; }

    void setLibrarySelection(std::optional<DesktopShellLibrarySelection> value);
    void setTimelineSelection(std::optional<DesktopShellTimelineSelection> value);
    void setActiveUtilitySlot(std::optional<DesktopShellUtilitySlot> value);
    void setSidebarVisible(bool visible);

    QString libraryID() const { return m_library ? m_library->id : QString(); }
    QString timelineID() const { return m_timeline ? m_timeline->id : QString(); }
    bool isLocalModelsOpen() const { return m_utility == DesktopShellUtilitySlot::localModels; }

Q_SIGNALS:
    void changed();

private:
    std::optional<DesktopShellLibrarySelection> m_library;
    std::optional<DesktopShellTimelineSelection> m_timeline;
    std::optional<DesktopShellUtilitySlot> m_utility;
    bool m_sidebarVisible;
};

} // namespace rirudez
