#pragma once

// List models through which the conversation screen reads the coding view model, and the incremental split of
// a thread's event log into chat and activity rows that keeps them cheap while a turn streams.
//
// Every model changes row by row: a streamed assistant-text chunk changes one chat row (dataChanged), a new
// event inserts one row, a new thread or approval inserts one row. Only a change of the visible thread resets
// the event models, and only a change of bridge (all threads dropped) the thread models.

#include "DesktopCodingHarnessModels.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QSortFilterProxyModel>
#include <QString>

#include <optional>

namespace rirudez {

class DesktopCodingApprovalQueue;
class DesktopCodingHarnessViewModel;

// The chat and activity rows of one event log, kept up to date as events are appended or assistant text
// grows, with the same results as DesktopCodingSession::chatEvents() and activityEvents() over the whole log.
// Rows refer to the log by index; only a chat row that merges several assistant-text events keeps its own
// text. Every operation takes the log it describes.
class DesktopCodingConversationFold {
public:
    // What one update did to the rows.
    // A run of rows, first to last inclusive.
    struct Rows {
        qsizetype first = 0;
        qsizetype last = 0;
        bool operator==(const Rows &) const = default;
    };
    // What one update, or several in a row, did to the rows. Rows are only ever added at the end, and only
    // rows that existed before are reported as changed.
    struct Change {
        std::optional<Rows> chatRowsInserted;
        std::optional<Rows> chatRowsChanged;
        // A changed row took a later event (its time moved), not just more text in the event it ends with.
        bool chatRowTimesChanged = false;
        std::optional<Rows> activityRowsInserted;
        bool reset = false; // the rows were rebuilt from the whole log

        // Adds what a later update did, so the result announces both.
        void merge(const Change &later);
        bool isEmpty() const {
            return !reset && !chatRowsInserted && !chatRowsChanged && !activityRowsInserted;
        }
        bool operator==(const Change &) const = default;
    };

    // Rebuilds every row from the log.
    void rebuild(const QList<DesktopCodingEvent> &events);
    // The log gained one event at its end.
    Change appended(const QList<DesktopCodingEvent> &events);
    // The assistant-text event at `eventIndex` grew by `chunk` at its end (its summary is already updated).
    Change assistantTextExtended(const QList<DesktopCodingEvent> &events, qsizetype eventIndex,
                                 const QString &chunk);

    qsizetype chatCount() const { return m_chat.size(); }
    qsizetype activityCount() const { return m_activity.size(); }
    // The chat row as chatEvents() would give it (a merged assistant-text row is built on the fly).
    DesktopCodingEvent chatEvent(const QList<DesktopCodingEvent> &events, qsizetype row) const;
    // The summary of a chat row, without building the whole event.
    QString chatSummary(const QList<DesktopCodingEvent> &events, qsizetype row) const;
    const DesktopCodingEvent &activityEvent(const QList<DesktopCodingEvent> &events, qsizetype row) const;
    // The number of user messages.
    int turnCount() const { return m_turnCount; }
    // The chat row that shows the event at that index of the log, if any.
    std::optional<qsizetype> chatRowOfEvent(qsizetype eventIndex) const;
    // The thread subtitle: "<n> turn(s) · <snippet of the last chat row>", or `withoutChat` when the chat is
    // empty. Reads only the start of the last row's text.
    QString subtitle(const QList<DesktopCodingEvent> &events, const QString &withoutChat) const;

private:
    struct ChatRow {
        qsizetype first = 0;                  // the event the row shows (the first of a merged run)
        qsizetype last = 0;                   // the last event merged into the row
        std::optional<QString> mergedSummary; // set once a second event merged in
    };

    void take(const QList<DesktopCodingEvent> &events, qsizetype index, Change &change);

    QList<ChatRow> m_chat;
    QList<qsizetype> m_activity;       // event indexes
    QList<qsizetype> m_chatRowOfEvent; // per event: its chat row, or -1
    bool m_afterAssistantText = false;
    int m_turnCount = 0;
};

// The first `maxLength` characters of a text with its whitespace runs collapsed, as chatSnippet() gives them,
// reading no further into the text than needed.
QString leadingChatSnippet(const QString &text, qsizetype maxLength);

// Every thread of the view model, in the order of `threads`.
class DesktopCodingThreadListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        IdRole = Qt::UserRole + 1,
        ProjectIdRole,
        TitleRole,
        SubtitleRole,
        UpdatedAtRole,
        BridgeSessionIdRole,
        AgentRole,
        ModelIdRole,
        TurnCountRole,
        IsSelectedRole,
        HasContentRole, // bound to a bridge session or holding events
    };
    Q_ENUM(Role)

    explicit DesktopCodingThreadListModel(const DesktopCodingHarnessViewModel *viewModel,
                                          QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    void threadChanged(qsizetype row, const QList<int> &roles = {});
    QString subtitle(qsizetype row) const;

    const DesktopCodingHarnessViewModel *m_viewModel;
    // The subtitle last handed out per thread id: a streamed answer changes its thread's events thousands
    // of times a second, its subtitle (the answer's first words) hardly ever.
    mutable QHash<QString, QString> m_shownSubtitles;
};

// The threads of the selected project as the rail lists them (`projectThreads`): threads without bridge
// session and events are hidden when another thread of the project has either (the selected thread always
// shows), and the rest are sorted by updatedAt, newest first, ties in `threads` order.
class DesktopCodingProjectThreadsModel : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit DesktopCodingProjectThreadsModel(const DesktopCodingHarnessViewModel *viewModel,
                                              DesktopCodingThreadListModel *source,
                                              QObject *parent = nullptr);
    // The selection or the project's set of threads with content changed.
    void refilter();

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;

private:
    const DesktopCodingHarnessViewModel *m_viewModel;
};

// The chat or the activity rows of the visible session.
class DesktopCodingEventListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum class Part { chat, activity };
    enum Role {
        IdRole = Qt::UserRole + 1,
        KindRole, // the DesktopCodingEventKind as an int (QML compares it with EventKind.userMessage, ...)
        KindNameRole, // display name: "User", "Assistant", ...
        SummaryRole,
        DetailRole, // empty when absent
        CreatedAtRole,
        ImagesRole, // list of {id, kind, b64PNG}
        ImageCountRole,
        // The summary's length. Changes with the summary: a view that must not receive a growing text on
        // every streamed piece follows this and reads the text through summaryAt() when it wants it.
        SummaryLengthRole,
        // A prompt this desktop sent that the bridge confirmed as received.
        DeliveredRole,
    };
    Q_ENUM(Role)

    DesktopCodingEventListModel(const DesktopCodingHarnessViewModel *viewModel, Part part,
                                QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;
    // The summary of a row (empty for a row that does not exist).
    Q_INVOKABLE QString summaryAt(int row) const;

private:
    void beginRebuild();
    void endRebuild();
    void apply(const DesktopCodingConversationFold::Change &change);
    const DesktopCodingHarnessViewModel *m_viewModel;
    int announcedRowCount() const;

    Part m_part;
    bool m_resetting = false;
    // The rows announced to views so far. The fold changes first and the change is announced right after,
    // so views always see a row count that matches the signals they received.
    int m_rowCount = 0;
};

// The pending approvals, in order.
class DesktopCodingPendingApprovalListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        IdRole = Qt::UserRole + 1,
        ThreadIdRole,
        SessionIdRole,
        ApprovalIdRole,
        MessageIdRole,
        MethodRole,
        SummaryRole,
        EventIdRole,
        CreatedAtRole,
    };
    Q_ENUM(Role)

    explicit DesktopCodingPendingApprovalListModel(const DesktopCodingApprovalQueue *queue,
                                                   QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    const DesktopCodingApprovalQueue *m_queue;
};

} // namespace rirudez
