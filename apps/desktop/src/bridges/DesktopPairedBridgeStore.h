#pragma once

// The bridges this desktop was paired with, besides the local one, and which bridge the desktop uses.
//
// Kept in one JSON file in the application's data directory ("paired-bridges.json", camel-case keys):
//
//   {"version": 1, "selectedBridgeID": "<id>",
//    "bridges": [{"id": "<uuid>", "name": "studio", "host": "192.168.1.20", "port": 8800,
//                 "fingerprint": "<64 lower-case hex digits>", "tokenStorage": "keychain"}]}
//
// No token is ever in this file: tokens live in the system keychain or in a private file beside it
// (DesktopBridgeTokenVault), and "tokenStorage" says where. An absent "selectedBridgeID" means the bridge on
// this computer. Every write goes to a temporary file that replaces the old one in one rename, so a crash
// leaves either the old or the new list. A file that cannot be read is never overwritten silently: it is
// moved aside (".unreadable") before the first write, and `loadProblem()` says what was wrong.

#include <QList>
#include <QString>

#include <optional>

namespace rirudez {

enum class DesktopTokenStorage { keychain, file };

struct DesktopPairedBridge {
    QString id; // a UUID text made when pairing
    QString name;
    QString host;
    int port = 0;
    QString fingerprint; // 64 lower-case hex digits
    DesktopTokenStorage tokenStorage = DesktopTokenStorage::keychain;

    // host ":" port, as shown beside the name.
    QString address() const;
    // The first and last eight digits of the fingerprint, for a list row.
    QString shortFingerprint() const;
    bool operator==(const DesktopPairedBridge &) const = default;
};

class DesktopPairedBridgeStore {
public:
    // `directory`: where "paired-bridges.json" lives (the application data directory; created 0700 on the
    // first write). Reads the file at once.
    explicit DesktopPairedBridgeStore(QString directory);

    static QString defaultDirectory();
    QString filePath() const;
    const QString &directory() const { return m_directory; }

    const QList<DesktopPairedBridge> &bridges() const { return m_bridges; }
    std::optional<DesktopPairedBridge> bridge(const QString &id) const;
    // The chosen paired bridge's id; absent for the bridge on this computer.
    const std::optional<QString> &selectedBridgeID() const { return m_selectedBridgeID; }
    // What was wrong with the file when it was read (absent when it was fine or missing).
    const std::optional<QString> &loadProblem() const { return m_loadProblem; }

    // Adds the bridge, or replaces the one with the same host and port (re-pairing keeps its id, so a
    // selection stays). Returns the stored record. Throws DesktopPairedBridgeStoreError when it cannot write.
    DesktopPairedBridge add(DesktopPairedBridge bridge);
    // Removes it (a selected bridge falls back to this computer). False when there is no such bridge.
    bool remove(const QString &id);
    // Chooses a paired bridge, or this computer with nothing. An unknown id is refused (false).
    bool select(const std::optional<QString> &id);

private:
    void load();
    void save();

    QString m_directory;
    QList<DesktopPairedBridge> m_bridges;
    std::optional<QString> m_selectedBridgeID;
    std::optional<QString> m_loadProblem;
    bool m_moveAsideBeforeWrite = false;
};

// Writing the list failed; the text names the file and the system's reason.
class DesktopPairedBridgeStoreError final : public std::exception {
public:
    explicit DesktopPairedBridgeStoreError(QString text) : m_text(std::move(text)), m_what(m_text.toUtf8()) {}
    const QString &localizedDescription() const { return m_text; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    QString m_text;
    QByteArray m_what;
};

// Writes bytes to `path` atomically with owner-only permissions (0600), creating its directory 0700.
// Returns the error text, or nothing on success.
std::optional<QString> writePrivateFileAtomically(const QString &path, const QByteArray &bytes);

} // namespace rirudez
