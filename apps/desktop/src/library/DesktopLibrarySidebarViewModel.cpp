#include "DesktopLibrarySidebarViewModel.h"

#include "DesktopTask.h"

#include <QLoggingCategory>
#include <QRegularExpression>

#include <exception>

using namespace Qt::StringLiterals;

namespace rirudez {

namespace {

// Library indexes that cannot be loaded.
Q_LOGGING_CATEGORY(lcDesktopLibrary, "rirudez.desktop.library")

QCoro::Task<void> runSelect(DesktopLibrarySidebarViewModel::OnSelect onSelect, DesktopLibraryEntry entry) {
    // The callback reports its own failures; a selection never throws into the event loop.
    QCoro::Task<DesktopTaskOutcome<void>> selecting = settledTask(onSelect(std::move(entry)));
    co_await selecting;
}

} // namespace

DesktopLibrarySidebarViewModel::DesktopLibrarySidebarViewModel(
    std::shared_ptr<DesktopLibraryReadModel> readModel, OnSelect onSelect, QObject *parent)
    : QObject(parent), m_readModel(std::move(readModel)), m_onSelect(std::move(onSelect)),
      m_clock([] { return QDateTime::currentDateTimeUtc(); }) {}

void DesktopLibrarySidebarViewModel::setSearchText(const QString &text) {
    if (text == m_searchText)
        return;
    m_searchText = text;
    Q_EMIT searchTextChanged();
    Q_EMIT visibleEntriesChanged();
}

void DesktopLibrarySidebarViewModel::setLoadState(LoadState state) {
    if (state == m_loadState)
        return;
    m_loadState = std::move(state);
    Q_EMIT loadStateChanged();
}

QCoro::Task<void> DesktopLibrarySidebarViewModel::reload() {
    const quint64 generation = ++m_reloadGeneration;
    std::shared_ptr<DesktopLibraryReadModel> readModel = m_readModel;
    setLoadState({LoadState::Case::loading, {}});
    QCoro::Task<std::optional<DesktopTaskOutcome<DesktopLibraryIndex>>> loading =
        guardedTask(this, readModel->loadLibraryIndex());
    const std::optional<DesktopTaskOutcome<DesktopLibraryIndex>> loaded = co_await loading;
    if (!loaded || generation != m_reloadGeneration)
        co_return;
    if (loaded->failure) {
        const QString failure = visitFailure<std::exception>(
            loaded->failure, [](const std::exception &error) { return QString::fromUtf8(error.what()); },
            [] { return u"unknown error"_s; });
        qCInfo(lcDesktopLibrary).noquote() << "the library index cannot be loaded:" << failure;
        setLoadState({LoadState::Case::failed, u"Could not load the library: "_s + failure});
        co_return;
    }
    const DesktopLibraryIndex &index = *loaded->value;
    m_entries = index.sortedEntries();
    m_currentEntryID = index.currentEntryID;
    Q_EMIT entriesChanged();
    Q_EMIT visibleEntriesChanged();
    setLoadState({LoadState::Case::loaded, {}});
}

void DesktopLibrarySidebarViewModel::requestReload() {
    startDetached(reload());
}

void DesktopLibrarySidebarViewModel::select(const QString &id) {
    const auto found = std::find_if(m_entries.cbegin(), m_entries.cend(),
                                    [&](const DesktopLibraryEntry &entry) { return entry.id == id; });
    if (found == m_entries.cend())
        return;
    showSelection(id);
    if (m_onSelect)
        runSelect(m_onSelect, *found);
}

void DesktopLibrarySidebarViewModel::showSelection(const std::optional<QString> &id) {
    if (id == m_selectedEntryID)
        return;
    m_selectedEntryID = id;
    Q_EMIT selectedEntryIDChanged();
    Q_EMIT visibleEntriesChanged();
}

std::optional<DesktopLibraryEntry> DesktopLibrarySidebarViewModel::selectedEntry() const {
    if (!m_selectedEntryID)
        return std::nullopt;
    for (const DesktopLibraryEntry &entry : m_entries)
        if (entry.id == *m_selectedEntryID)
            return entry;
    return std::nullopt;
}

QList<DesktopLibraryEntry> DesktopLibrarySidebarViewModel::visibleEntries() const {
    static const QRegularExpression space(u"\\s+"_s);
    const QStringList words = m_searchText.trimmed().split(space, Qt::SkipEmptyParts);
    if (words.isEmpty())
        return m_entries;
    QList<DesktopLibraryEntry> visible;
    for (const DesktopLibraryEntry &entry : m_entries) {
        const QString name = entry.displayName();
        const QString title = entry.templateTitle.value_or(QString());
        const bool matches = std::all_of(words.cbegin(), words.cend(), [&](const QString &word) {
            return name.contains(word, Qt::CaseInsensitive) || title.contains(word, Qt::CaseInsensitive);
        });
        if (matches)
            visible.append(entry);
    }
    return visible;
}

QString DesktopLibrarySidebarViewModel::loadStateName() const {
    switch (m_loadState.state) {
    case LoadState::Case::failed:
        return u"failed"_s;
    case LoadState::Case::idle:
        return u"idle"_s;
    case LoadState::Case::loading:
        return u"loading"_s;
    case LoadState::Case::loaded:
        return u"loaded"_s;
    }
    return {};
}

QVariantList DesktopLibrarySidebarViewModel::visibleEntriesForView() const {
    const QDateTime now = m_clock();
    QVariantList rows;
    for (const DesktopLibraryEntry &entry : visibleEntries())
        rows.append(QVariantMap{{u"id"_s, entry.id},
                                {u"name"_s, entry.displayName()},
                                {u"secondary"_s, entry.secondaryLabel(now)},
                                {u"current"_s, m_currentEntryID == entry.id},
                                {u"selected"_s, m_selectedEntryID == entry.id}});
    return rows;
}

} // namespace rirudez
