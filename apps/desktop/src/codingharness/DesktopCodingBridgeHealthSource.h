#pragma once

// Where the coding view model gets what it knows about the local Zad Ezarur without talking to it: the
// credentials for pairing, the health probe, and how recently each repo session was active and whether its
// log holds a conversation. Three small roles, so tests can inject their own; the local implementations
// read the bridge's state directory:
//
//   <state>/token                          bearer token, UTF-8 text
//   <state>/fingerprint                    TLS certificate fingerprint, UTF-8 text
//   <state>/sessions/<id>/session.json     session record (only its modification time is used)
//   <state>/sessions/<id>/events.jsonl     session event log, one JSON object per line
//
// All of them are used on the UI thread only.

#include "rirudez/bridgekit/BridgeMessages.h"
#include "rirudez/bridgekit/Pairing.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>

namespace rirudez {

// The health answer of the bridge. May throw (the pairing source's errors, the probe's errors).
class DesktopCodingBridgeHealthSource {
public:
    virtual ~DesktopCodingBridgeHealthSource() = default;
    virtual QCoro::Task<BridgeHealth> loadHealth() = 0;
};

// The pairing the bridge connection uses. May throw.
class DesktopCodingBridgePairingSource {
public:
    virtual ~DesktopCodingBridgePairingSource() = default;
    virtual Pairing loadPairing() = 0;
};

// How recently a session was active, and whether its log shows a conversation. Never throws: an answer
// that cannot be given is absent, which the mirror treats as unknown.
class DesktopCodingBridgeSessionRecencySource {
public:
    virtual ~DesktopCodingBridgeSessionRecencySource() = default;
    virtual std::optional<QDateTime> updatedAt(const QString &sessionID) = 0;
    // Unknown unless an implementation can tell.
    virtual std::optional<bool> hasConversationEvents(const QString &sessionID) {
        Q_UNUSED(sessionID);
        return std::nullopt;
    }
};

// A credential file of the state directory that could not be used. The texts name the file's path, never
// its content.
class DesktopCodingBridgeStateFileError final : public std::exception {
public:
    enum class Code {
        fileReadNoSuchFile,                 // the file does not exist
        fileReadNoPermission,               // it exists but may not be read
        fileReadCorruptFile,                // blank after trimming
        fileReadInapplicableStringEncoding, // not valid UTF-8
        fileReadTooLarge,                   // larger than a credential can be
        fileReadUnknown,                    // any other read failure (the system's reason in the detail)
    };

    DesktopCodingBridgeStateFileError(Code code, QString path, QString detail = {});

    Code code() const { return m_code; }
    const QString &path() const { return m_path; }

    // The code and the path, e.g. `fileReadCorruptFile("/home/ada/.derezov-bridge/token")`.
    QString diagnosticText() const;
    // A sentence for the user.
    QString localizedDescription() const;
    const char *what() const noexcept override { return m_what.constData(); }

private:
    Code m_code;
    QString m_path;
    QString m_detail;
    QByteArray m_what;
};

// The bridge's state directory in the home directory of the current user, taken from the password database
// entry of the real user id (so a changed HOME does not redirect it), else from the platform's home
// directory. Ends without a slash.
QString defaultDesktopCodingBridgeStateDirectory();

// Reads the pairing from the state directory and probes the bridge's health with it. Plays both the health
// and the pairing role. The application uses the default state directory, "127.0.0.1" and 8800.
class LocalDesktopCodingBridgeHealthSource final : public DesktopCodingBridgeHealthSource,
                                                   public DesktopCodingBridgePairingSource {
public:
    LocalDesktopCodingBridgeHealthSource(QString stateDirectory, QString host, int port);

    static QString defaultStateDirectory() { return defaultDesktopCodingBridgeStateDirectory(); }

    const QString &stateDirectory() const { return m_stateDirectory; }
    const QString &host() const { return m_host; }
    int port() const { return m_port; }

    // Pairing(host, port, trimmed token, trimmed and lower-cased fingerprint). Throws
    // DesktopCodingBridgeStateFileError when either file is missing, unreadable or blank.
    Pairing loadPairing() override;
    // loadPairing(), then the bridge's health probe with that pairing on a session pinned to its
    // fingerprint. Passes on the errors of both.
    QCoro::Task<BridgeHealth> loadHealth() override;

private:
    QString m_stateDirectory;
    QString m_host;
    int m_port;
};

// Answers the recency questions from the session files' modification times and the session's event log.
//
// `hasConversationEvents` is incremental: per session it remembers the log's identity, size, modification
// and change times and the answer so far, and on the next call reads only the bytes appended since then
// (plus a few bytes at its start and before the old end, to find a marker split across the old end and to
// notice a rewrite). An unchanged log costs one stat. A log that shrank, was replaced or was rewritten in
// place is read again from the start. (A rewrite that makes the log longer while keeping its first bytes and
// the bytes before the old end is taken for an append.) The answer is the one a full read would give: true
// when the log is valid UTF-8 and contains one of the conversation markers, false when it is valid UTF-8
// without them, absent when it cannot be read or is not valid UTF-8 (including a multi-byte character still
// being written at its end).
class LocalDesktopCodingBridgeSessionRecencySource final : public DesktopCodingBridgeSessionRecencySource {
public:
    // `timestampGranularity`: the least granularity assumed for file times. A log whose times were not older
    // than their granularity when it was scanned is read again in full the next time even if it looks
    // unchanged, since a same-size rewrite within one timestamp tick would not show. The granularity is also
    // inferred from each time (a time in whole seconds is taken to be two-second granular), so the default of
    // zero is safe on file systems with coarse times and costs nothing on those that keep nanoseconds.
    explicit LocalDesktopCodingBridgeSessionRecencySource(
        QString stateDirectory,
        std::chrono::milliseconds timestampGranularity = std::chrono::milliseconds(0));
    ~LocalDesktopCodingBridgeSessionRecencySource() override;
    LocalDesktopCodingBridgeSessionRecencySource(LocalDesktopCodingBridgeSessionRecencySource &&) noexcept;
    LocalDesktopCodingBridgeSessionRecencySource &
    operator=(LocalDesktopCodingBridgeSessionRecencySource &&) noexcept;

    static QString defaultStateDirectory() { return defaultDesktopCodingBridgeStateDirectory(); }

    const QString &stateDirectory() const { return m_stateDirectory; }

    // The later modification time of the session's "session.json" and "events.jsonl"; absent when neither
    // exists, and for a blank id or one that is not a single path component.
    std::optional<QDateTime> updatedAt(const QString &sessionID) override;
    // Whether the session's "events.jsonl" contains "\"kind\":\"user_message\"",
    // "\"kind\":\"assistant_text\"",
    // "\"kind\":\"result\"" or "\"kind\":\"error\"" (exact, no spaces). Absent as described above, and for a
    // blank id or one that is not a single path component.
    std::optional<bool> hasConversationEvents(const QString &sessionID) override;

    // Forgets what earlier scans remembered; the next question reads every log from the start.
    void forgetScans();
    // How many bytes of event logs the conversation questions have read so far.
    quint64 bytesRead() const;

    struct Scans;

private:
    QString m_stateDirectory;
    std::unique_ptr<Scans> m_scans;
};

} // namespace rirudez
