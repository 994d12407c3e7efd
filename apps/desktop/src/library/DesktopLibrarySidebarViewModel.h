#pragma once

// The shell's library sidebar: loads the library from its read model, filters it by the search text, and
// reports the notebook the user picks.
//
// - reload(): `loading` while the read model works, then `loaded` with the sorted entries and the current
//   entry, or `failed` with "Could not load the library: <reason>" (the entries shown before stay). When
//   reloads overlap, only the latest one's answer is taken.
// - Search: the trimmed search text split at white space; an entry is visible when every word occurs in its
//   display name or template title, ignoring case. A blank search shows everything.
// - select(id:) picks a loaded entry and calls `onSelect` with it; an unknown id changes nothing.
// - isEmpty: nothing loaded (whatever the search).

#include "DesktopLibraryReadModel.h"

#include <QObject>
#include <QPointer>
#include <QVariantList>

#include <functional>
#include <memory>

namespace rirudez {

class DesktopLibrarySidebarViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString loadStateName READ loadStateName NOTIFY loadStateChanged)
    Q_PROPERTY(QString loadFailureMessage READ loadFailureMessage NOTIFY loadStateChanged)
    Q_PROPERTY(QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged)
    Q_PROPERTY(QString selectedEntryID READ selectedEntryIDText NOTIFY selectedEntryIDChanged)
    Q_PROPERTY(QString currentEntryID READ currentEntryIDText NOTIFY entriesChanged)
    // Each: {id, name, secondary, current, selected}
    Q_PROPERTY(QVariantList visibleEntries READ visibleEntriesForView NOTIFY visibleEntriesChanged)
    Q_PROPERTY(bool isEmpty READ isEmpty NOTIFY entriesChanged)

public:
    struct LoadState {
        enum class Case { failed, idle, loading, loaded };
        Case state = Case::idle;
        QString message; // for `failed`

        bool operator==(const LoadState &) const = default;
    };
    using OnSelect = std::function<QCoro::Task<void>(DesktopLibraryEntry)>;

    DesktopLibrarySidebarViewModel(std::shared_ptr<DesktopLibraryReadModel> readModel, OnSelect onSelect,
                                   QObject *parent = nullptr);

    const QList<DesktopLibraryEntry> &entries() const { return m_entries; }
    const std::optional<QString> &currentEntryID() const { return m_currentEntryID; }
    const LoadState &loadState() const { return m_loadState; }
    const QString &searchText() const { return m_searchText; }
    void setSearchText(const QString &text);
    const std::optional<QString> &selectedEntryID() const { return m_selectedEntryID; }

    QCoro::Task<void> reload();
    Q_INVOKABLE void requestReload();
    Q_INVOKABLE void select(const QString &id);
    // Marks an entry as selected without calling onSelect (the shell follows a selection made elsewhere).
    void showSelection(const std::optional<QString> &id);

    std::optional<DesktopLibraryEntry> selectedEntry() const;
    QList<DesktopLibraryEntry> visibleEntries() const;
    bool isEmpty() const { return m_entries.isEmpty(); }

    // The time the labels are relative to (the clock by default; tests fix it).
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

Q_SIGNALS:
    void loadStateChanged();
    void searchTextChanged();
    void selectedEntryIDChanged();
    void entriesChanged();
    void visibleEntriesChanged();

private:
    QString loadStateName() const;
    QString loadFailureMessage() const { return m_loadState.message; }
    QString selectedEntryIDText() const { return m_selectedEntryID.value_or(QString()); }
    QString currentEntryIDText() const { return m_currentEntryID.value_or(QString()); }
    QVariantList visibleEntriesForView() const;
    void setLoadState(LoadState state);

    std::shared_ptr<DesktopLibraryReadModel> m_readModel;
    OnSelect m_onSelect;
    std::function<QDateTime()> m_clock;
    QList<DesktopLibraryEntry> m_entries;
    std::optional<QString> m_currentEntryID;
    LoadState m_loadState;
    QString m_searchText;
    std::optional<QString> m_selectedEntryID;
    quint64 m_reloadGeneration = 0;
};

} // namespace rirudez
