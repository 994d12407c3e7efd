#pragma once

// Carries a turn to the bridge and keeps its sending state: opens or resumes the thread's repo session, sends
// the repo message, stops the running turn, and answers approval requests. Remembers the messages this
// desktop sent, so the bridge's echo of one is recognised.

#include "DesktopCodingHarnessModels.h"

#include "rirudez/bridgekit/BridgeMessages.h"

#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

namespace rirudez {

class DesktopCodingApprovalQueue;
class DesktopCodingBridgeClient;
class DesktopCodingSessionSync;
class DesktopCodingThreadStore;

class DesktopCodingTurnDispatcher : public QObject {
    Q_OBJECT
public:
    DesktopCodingTurnDispatcher(DesktopCodingThreadStore &store, DesktopCodingApprovalQueue &approvals,
                                DesktopCodingSessionSync &sync,
                                std::shared_ptr<DesktopCodingBridgeClient> client, QObject *parent = nullptr);

    bool isSending() const { return m_inFlightThreadID.has_value(); }
    const std::optional<QString> &inFlightThreadID() const { return m_inFlightThreadID; }
    // Sending, and the in-flight thread exists and is bound to a bridge session.
    bool canCancel() const;

    // Writes the rows that open a turn in the thread: the prompt, "Ready to dispatch …" and "… exec in …".
    // Returns the id of the prompt's row.
    QString writeOpening(const DesktopCodingRequestDraft &draft, const QString &threadID,
                         const std::optional<DesktopCodingProject> &project, const QString &projectName);
    // Marks the thread's turn as being sent. `userEventID` is the thread's row of the prompt.
    void begin(const QString &threadID, const QString &userEventID);
    // Opens or resumes the session and sends the message; a failure becomes "Zad Ezarur dispatch failed".
    QCoro::Task<void> dispatch(DesktopCodingRequestDraft draft, QString threadID, QString projectName);
    QCoro::Task<void> cancel();
    QCoro::Task<void> respond(QString approvalID, RepoApprovalDecision decision);
    // Ends the sending state when that thread's turn is the one in flight.
    void finishIfNeeded(const QString &threadID);
    // Another bridge: nothing of the old one's turns is awaited any more.
    void forgetBridge();
    // The desktop's own row for a message this desktop sent in that thread, if it is one.
    std::optional<QString> ownPromptEventID(const QString &threadID, const QString &messageID) const;

    // The frame as JSON with sorted keys, or "Unable to encode bridge frame.".
    static QString bridgeFramePreview(const ClientMessage &frame);

Q_SIGNALS:
    void isSendingChanged();

private:
    // The work of dispatch() and of cancel(); they write the failure line.
    QCoro::Task<void> sendTurn(DesktopCodingRequestDraft draft, QString threadID, QString projectName);
    QCoro::Task<void> sendWhenConnected(ClientMessage frame);
    void append(const QString &threadID, DesktopCodingEvent event);
    void appendFailure(const QString &threadID, const QString &title, const std::exception_ptr &failure);

    struct SentPrompt {
        QString threadID;
        QString eventID;
    };

    DesktopCodingThreadStore &m_store;
    DesktopCodingApprovalQueue &m_approvals;
    DesktopCodingSessionSync &m_sync;
    std::shared_ptr<DesktopCodingBridgeClient> m_client;
    std::optional<QString> m_inFlightThreadID;
    QString m_inFlightPromptEventID;
    QHash<QString, SentPrompt> m_sentPrompts; // by message id
};

} // namespace rirudez
