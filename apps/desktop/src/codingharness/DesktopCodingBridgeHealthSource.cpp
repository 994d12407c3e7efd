#include "DesktopCodingBridgeHealthSource.h"

#include "rirudez/bridgekit/BridgeClient.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace rirudez {

namespace {

// A credential is a line of text; anything much larger is not one, and is not read into memory.
constexpr qint64 maximumCredentialFileSize = 64 * 1024;

// Closes a POSIX file descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }

private:
    int m_fd;
};

// Opens for reading without following into a FIFO's blocking open, and without leaking into child processes.
int openForReading(const QByteArray &path) {
    int fd;
    do {
        fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Reads up to `length` bytes at `offset`; returns how many were read (fewer at end of file), or -1.
qint64 readAt(int fd, char *data, qint64 length, qint64 offset) {
    qint64 total = 0;
    while (total < length) {
        const ssize_t n = ::pread(fd, data + total, static_cast<size_t>(length - total), offset + total);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        total += n;
    }
    return total;
}

DesktopCodingBridgeStateFileError errorForErrno(int error, const QString &path) {
    using Code = DesktopCodingBridgeStateFileError::Code;
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return {Code::fileReadNoSuchFile, path};
    case EACCES:
    case EPERM:
        return {Code::fileReadNoPermission, path};
    default:
        return {Code::fileReadUnknown, path, QString::fromLocal8Bit(std::strerror(error))};
    }
}

// The file's text, trimmed of whitespace and newlines at both ends. Throws when it cannot be read, is not
// UTF-8, is too large to be a credential, or nothing remains after trimming.
QString readTrimmedFile(const QString &stateDirectory, const QString &name) {
    using Code = DesktopCodingBridgeStateFileError::Code;
    const QString path = QDir(stateDirectory).filePath(name);
    const FileDescriptor fd(openForReading(QFile::encodeName(path)));
    if (!fd.isValid())
        throw errorForErrno(errno, path);

    struct stat status {};
    if (::fstat(fd.get(), &status) != 0)
        throw errorForErrno(errno, path);
    if (S_ISDIR(status.st_mode))
        throw errorForErrno(EISDIR, path);
    if (!S_ISREG(status.st_mode))
        throw DesktopCodingBridgeStateFileError(Code::fileReadUnknown, path, u"not a regular file"_s);
    if (status.st_size > maximumCredentialFileSize)
        throw DesktopCodingBridgeStateFileError(Code::fileReadTooLarge, path);

    // One byte more than allowed, so a file that grew since fstat is still caught.
    QByteArray bytes(maximumCredentialFileSize + 1, Qt::Uninitialized);
    const qint64 length = readAt(fd.get(), bytes.data(), bytes.size(), 0);
    if (length < 0)
        throw errorForErrno(errno, path);
    if (length > maximumCredentialFileSize)
        throw DesktopCodingBridgeStateFileError(Code::fileReadTooLarge, path);
    bytes.truncate(length);

    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError())
        throw DesktopCodingBridgeStateFileError(Code::fileReadInapplicableStringEncoding, path);
    QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        throw DesktopCodingBridgeStateFileError(Code::fileReadCorruptFile, path);
    return trimmed;
}

// The trimmed session id when it can name a directory below "sessions": not blank, and a single path
// component. The id comes from the bridge's answer and must not lead outside the state directory.
std::optional<QString> sessionDirectoryName(const QString &sessionID) {
    QString id = sessionID.trimmed();
    if (id.isEmpty() || id == u"."_s || id == u".."_s || id.contains(u'/') || id.contains(QChar(u'\0')))
        return std::nullopt;
    return id;
}

QDateTime modificationTime(const struct stat &status) {
    const qint64 milliseconds =
        qint64(status.st_mtim.tv_sec) * 1000 + qint64(status.st_mtim.tv_nsec) / 1'000'000;
    return QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::UTC);
}

bool sameTime(const timespec &a, const timespec &b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

qint64 nanoseconds(const timespec &time) {
    return qint64(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

// The coarsest granularity a file time could have been cut to: the largest power of ten that divides its
// nanoseconds, and two seconds for a time in whole seconds (some file systems keep even seconds only).
// A file system that keeps nanoseconds gives a window of a nanosecond or so; the estimate is never finer
// than the file system's real granularity.
qint64 impliedGranularity(const timespec &time) {
    if (time.tv_nsec == 0)
        return 2'000'000'000;
    qint64 granularity = 1;
    for (long rest = time.tv_nsec; rest % 10 == 0; rest /= 10)
        granularity *= 10;
    return granularity;
}

// The clock the kernel stamps files with (the coarse one: a write later than this reading never gets an
// earlier timestamp).
qint64 fileClockNow() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return nanoseconds(now);
}

// ---------------------------------------------------------------------------------------------------------
// Conversation markers in an event log.

constexpr std::string_view markerPrefix = "\"kind\":\"";
constexpr std::array<std::string_view, 4> markerKinds{"user_message\"", "assistant_text\"", "result\"",
                                                      "error\""};
constexpr std::size_t longestMarker = markerPrefix.size() + 15; // "assistant_text\""
static_assert(longestMarker == std::string_view("\"kind\":\"assistant_text\"").size());

// How many bytes before the previous end are looked at again: enough for any marker that ends in the new
// bytes, and to notice most rewrites of the old end.
constexpr std::size_t overlapLength = 32;
static_assert(overlapLength >= longestMarker - 1);
// How many bytes of the log's start are remembered to notice a rewrite.
constexpr std::size_t headLength = 32;
// The size of one read.
constexpr std::size_t readChunkLength = 1 << 20;

bool containsMarker(const char *data, std::size_t length) {
    std::size_t offset = 0;
    while (offset + markerPrefix.size() <= length) {
        const void *hit = ::memmem(data + offset, length - offset, markerPrefix.data(), markerPrefix.size());
        if (!hit)
            return false;
        const std::size_t at = static_cast<std::size_t>(static_cast<const char *>(hit) - data);
        const std::size_t kindStart = at + markerPrefix.size();
        for (std::string_view kind : markerKinds) {
            if (kindStart + kind.size() <= length &&
                std::memcmp(data + kindStart, kind.data(), kind.size()) == 0)
                return true;
        }
        offset = at + 1;
    }
    return false;
}

// UTF-8 validation that can be fed a byte stream in pieces: the same verdict as decoding the whole text
// strictly (no overlong forms, no surrogates, nothing above U+10FFFF).
class Utf8Validator {
public:
    void feed(const unsigned char *data, std::size_t length) {
        std::size_t i = 0;
        while (i < length && !m_invalid) {
            if (m_pending == 0) {
                // Plain ASCII, eight bytes at a time.
                while (i + 8 <= length) {
                    std::uint64_t word;
                    std::memcpy(&word, data + i, 8);
                    if (word & 0x8080808080808080ULL)
                        break;
                    i += 8;
                }
                if (i == length)
                    break;
                const unsigned char c = data[i++];
                if (c < 0x80)
                    continue;
                if (c >= 0xC2 && c <= 0xDF)
                    expect(1, 0x80, 0xBF);
                else if (c == 0xE0)
                    expect(2, 0xA0, 0xBF); // no overlong three-byte forms
                else if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF)
                    expect(2, 0x80, 0xBF);
                else if (c == 0xED)
                    expect(2, 0x80, 0x9F); // no surrogates
                else if (c == 0xF0)
                    expect(3, 0x90, 0xBF); // no overlong four-byte forms
                else if (c >= 0xF1 && c <= 0xF3)
                    expect(3, 0x80, 0xBF);
                else if (c == 0xF4)
                    expect(3, 0x80, 0x8F); // nothing above U+10FFFF
                else
                    m_invalid = true;
            } else {
                const unsigned char c = data[i++];
                if (c < m_low || c > m_high) {
                    m_invalid = true;
                    break;
                }
                --m_pending;
                m_low = 0x80;
                m_high = 0xBF;
            }
        }
    }

    bool isInvalid() const { return m_invalid; }
    // True while a multi-byte character has begun but not ended.
    bool isInsideCharacter() const { return m_pending != 0; }

private:
    void expect(int count, unsigned char low, unsigned char high) {
        m_pending = count;
        m_low = low;
        m_high = high;
    }

    int m_pending = 0;
    unsigned char m_low = 0x80;
    unsigned char m_high = 0xBF;
    bool m_invalid = false;
};

// What one session's log looked like at the last scan, and what was found in it.
struct LogScan {
    dev_t device = 0;
    ino_t inode = 0;
    qint64 size = 0; // bytes scanned, from the start
    timespec modified{};
    timespec changed{};
    bool found = false;
    Utf8Validator utf8;
    std::array<char, headLength> head{};
    std::size_t headSize = 0;
    std::array<char, overlapLength> tail{}; // the last bytes of the scanned part
    std::size_t tailSize = 0;

    // Whether the timestamps were already in the past when the scan began, by at least their granularity, so
    // that any later write shows as a different timestamp. A log written during the clock tick of the scan
    // (or within the file system's timestamp granularity of it) could be rewritten to the same size without a
    // visible change: it is read again the next time even if its status looks the same.
    bool trusted = false;

    bool describes(const struct stat &status) const {
        return device == status.st_dev && inode == status.st_ino && size == status.st_size &&
               sameTime(modified, status.st_mtim) && sameTime(changed, status.st_ctim);
    }

    std::optional<bool> answer() const {
        if (utf8.isInvalid() || utf8.isInsideCharacter())
            return std::nullopt;
        return found;
    }
};

} // namespace

// ---------------------------------------------------------------------------------------------------------

DesktopCodingBridgeStateFileError::DesktopCodingBridgeStateFileError(Code code, QString path, QString detail)
    : m_code(code), m_path(std::move(path)), m_detail(std::move(detail)), m_what(diagnosticText().toUtf8()) {}

QString DesktopCodingBridgeStateFileError::diagnosticText() const {
    QString name;
    switch (m_code) {
    case Code::fileReadNoSuchFile:
        name = u"fileReadNoSuchFile"_s;
        break;
    case Code::fileReadNoPermission:
        name = u"fileReadNoPermission"_s;
        break;
    case Code::fileReadCorruptFile:
        name = u"fileReadCorruptFile"_s;
        break;
    case Code::fileReadInapplicableStringEncoding:
        name = u"fileReadInapplicableStringEncoding"_s;
        break;
    case Code::fileReadTooLarge:
        name = u"fileReadTooLarge"_s;
        break;
    case Code::fileReadUnknown:
        name = u"fileReadUnknown"_s;
        break;
    }
    QString text = name + u"(\""_s + m_path + u'"';
    if (!m_detail.isEmpty())
        text += u", \""_s + m_detail + u'"';
    return text + u')';
}

QString DesktopCodingBridgeStateFileError::localizedDescription() const {
    switch (m_code) {
    case Code::fileReadNoSuchFile:
        return u"The file “%1” couldn’t be opened because there is no such file."_s.arg(m_path);
    case Code::fileReadNoPermission:
        return u"The file “%1” couldn’t be opened because you don’t have permission to view it."_s.arg(
            m_path);
    case Code::fileReadCorruptFile:
        return u"The file “%1” couldn’t be opened because it is empty."_s.arg(m_path);
    case Code::fileReadInapplicableStringEncoding:
        return u"The file “%1” couldn’t be opened because it is not UTF-8 text."_s.arg(m_path);
    case Code::fileReadTooLarge:
        return u"The file “%1” couldn’t be opened because it is too large."_s.arg(m_path);
    case Code::fileReadUnknown:
        break;
    }
    if (m_detail.isEmpty())
        return u"The file “%1” couldn’t be opened."_s.arg(m_path);
    return u"The file “%1” couldn’t be opened: %2."_s.arg(m_path, m_detail);
}

QString defaultDesktopCodingBridgeStateDirectory() {
    QString home;
    long bufferSize = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    if (bufferSize <= 0)
        bufferSize = 16384;
    std::vector<char> buffer(static_cast<std::size_t>(bufferSize));
    struct passwd entry {};
    struct passwd *result = nullptr;
    int status;
    while ((status = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result)) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (status == 0 && result && result->pw_dir && result->pw_dir[0] != '\0')
        home = QFile::decodeName(result->pw_dir);
    if (home.isEmpty())
        home = QDir::homePath();
    return QDir::cleanPath(QDir(home).filePath(u".derezov-bridge"_s));
}

// ---------------------------------------------------------------------------------------------------------

LocalDesktopCodingBridgeHealthSource::LocalDesktopCodingBridgeHealthSource(QString stateDirectory,
                                                                           QString host, int port)
    : m_stateDirectory(std::move(stateDirectory)), m_host(std::move(host)), m_port(port) {}

Pairing LocalDesktopCodingBridgeHealthSource::loadPairing() {
    QString token = readTrimmedFile(m_stateDirectory, u"token"_s);
    QString fingerprint = readTrimmedFile(m_stateDirectory, u"fingerprint"_s).toLower();
    return Pairing{m_host, m_port, std::move(token), std::move(fingerprint)};
}

QCoro::Task<BridgeHealth> LocalDesktopCodingBridgeHealthSource::loadHealth() {
    // Read before the first suspension: nothing of `this` is touched after it.
    Pairing pairing = loadPairing();
    co_return co_await probeBridgeHealth(std::move(pairing));
}

// ---------------------------------------------------------------------------------------------------------

struct LocalDesktopCodingBridgeSessionRecencySource::Scans {
    QHash<QString, LogScan> bySessionID;
    std::vector<char> buffer; // overlap + one chunk, reused by every scan
    qint64 timestampGranularity = 0;
    quint64 bytesRead = 0;
};

LocalDesktopCodingBridgeSessionRecencySource::LocalDesktopCodingBridgeSessionRecencySource(
    QString stateDirectory, std::chrono::milliseconds timestampGranularity)
    : m_stateDirectory(std::move(stateDirectory)), m_scans(std::make_unique<Scans>()) {
    m_scans->timestampGranularity = qint64(timestampGranularity.count()) * 1'000'000;
}

quint64 LocalDesktopCodingBridgeSessionRecencySource::bytesRead() const {
    return m_scans->bytesRead;
}

LocalDesktopCodingBridgeSessionRecencySource::~LocalDesktopCodingBridgeSessionRecencySource() = default;
LocalDesktopCodingBridgeSessionRecencySource::LocalDesktopCodingBridgeSessionRecencySource(
    LocalDesktopCodingBridgeSessionRecencySource &&) noexcept = default;
LocalDesktopCodingBridgeSessionRecencySource &LocalDesktopCodingBridgeSessionRecencySource::operator=(
    LocalDesktopCodingBridgeSessionRecencySource &&) noexcept = default;

void LocalDesktopCodingBridgeSessionRecencySource::forgetScans() {
    m_scans->bySessionID.clear();
}

std::optional<QDateTime> LocalDesktopCodingBridgeSessionRecencySource::updatedAt(const QString &sessionID) {
    const auto id = sessionDirectoryName(sessionID);
    if (!id)
        return std::nullopt;
    const QString directory = m_stateDirectory + u"/sessions/"_s + *id + u'/';
    std::optional<QDateTime> latest;
    for (const QString &name : {u"session.json"_s, u"events.jsonl"_s}) {
        struct stat status {};
        if (::stat(QFile::encodeName(directory + name).constData(), &status) != 0)
            continue;
        const QDateTime modified = modificationTime(status);
        if (!latest || modified > *latest)
            latest = modified;
    }
    return latest;
}

namespace {

// True when the bytes remembered from the log's start and from just before its old end are still there,
// so the log has only grown since the last scan.
bool onlyAppended(int fd, const LogScan &scan) {
    std::array<char, std::max(headLength, overlapLength)> bytes{};
    if (readAt(fd, bytes.data(), qint64(scan.headSize), 0) != qint64(scan.headSize) ||
        std::memcmp(bytes.data(), scan.head.data(), scan.headSize) != 0)
        return false;
    const qint64 tailOffset = scan.size - qint64(scan.tailSize);
    return readAt(fd, bytes.data(), qint64(scan.tailSize), tailOffset) == qint64(scan.tailSize) &&
           std::memcmp(bytes.data(), scan.tail.data(), scan.tailSize) == 0;
}

// Reads the log from `scan.size` up to `end` (or wherever it ends now), validating and searching the new
// bytes. Returns false on a read error.
bool scanAppended(int fd, LogScan &scan, qint64 end, std::vector<char> &buffer) {
    buffer.resize(overlapLength + readChunkLength);
    while (scan.size < end) {
        const qint64 wanted = std::min<qint64>(readChunkLength, end - scan.size);
        // The chunk goes right after the remembered tail, so a marker across the boundary is one string.
        char *chunk = buffer.data() + overlapLength;
        const qint64 got = readAt(fd, chunk, wanted, scan.size);
        if (got < 0)
            return false;
        if (got == 0)
            break; // shorter than its status said: it is being rewritten; the next question looks again

        const std::size_t length = static_cast<std::size_t>(got);
        scan.utf8.feed(reinterpret_cast<const unsigned char *>(chunk), length);
        char *window = chunk - scan.tailSize;
        std::memcpy(window, scan.tail.data(), scan.tailSize);
        const std::size_t windowLength = scan.tailSize + length;
        if (!scan.found)
            scan.found = containsMarker(window, windowLength);

        if (scan.headSize < headLength) {
            const std::size_t more = std::min(headLength - scan.headSize, length);
            std::memcpy(scan.head.data() + scan.headSize, chunk, more);
            scan.headSize += more;
        }
        scan.tailSize = std::min(overlapLength, windowLength);
        std::memcpy(scan.tail.data(), window + windowLength - scan.tailSize, scan.tailSize);
        scan.size += got;
    }
    return true;
}

} // namespace

std::optional<bool>
LocalDesktopCodingBridgeSessionRecencySource::hasConversationEvents(const QString &sessionID) {
    const auto id = sessionDirectoryName(sessionID);
    if (!id)
        return std::nullopt;
    const QByteArray path = QFile::encodeName(m_stateDirectory + u"/sessions/"_s + *id + u"/events.jsonl"_s);
    auto &scans = m_scans->bySessionID;

    // The common case of a refresh: the log did not change, one stat answers.
    struct stat status {};
    if (::stat(path.constData(), &status) != 0 || !S_ISREG(status.st_mode)) {
        scans.remove(*id);
        return std::nullopt;
    }
    auto known = scans.find(*id);
    if (known != scans.end() && known->trusted && known->describes(status))
        return known->answer();

    // Taken before the status that the scan will describe (see LogScan::trusted).
    const qint64 scanStart = fileClockNow();
    const FileDescriptor fd(openForReading(path));
    if (!fd.isValid() || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        scans.remove(*id);
        return std::nullopt;
    }
    if (known == scans.end())
        known = scans.insert(*id, LogScan{});
    LogScan &scan = *known;
    if (scan.trusted && scan.describes(status))
        return scan.answer();

    const bool grewInPlace = scan.device == status.st_dev && scan.inode == status.st_ino &&
                             status.st_size > scan.size && onlyAppended(fd.get(), scan);
    if (!grewInPlace)
        scan = LogScan{}; // new, replaced, shrunk, rewritten or not trusted: read it all again

    const qint64 scanFrom = scan.size;
    if (!scanAppended(fd.get(), scan, status.st_size, m_scans->buffer)) {
        scans.erase(known);
        return std::nullopt;
    }
    scan.device = status.st_dev;
    scan.inode = status.st_ino;
    m_scans->bytesRead += quint64(scan.size - scanFrom) + (grewInPlace ? overlapLength + headLength : 0);
    if (scan.size == status.st_size) {
        scan.modified = status.st_mtim;
        scan.changed = status.st_ctim;
        const qint64 stamped = std::max(nanoseconds(status.st_mtim), nanoseconds(status.st_ctim));
        const qint64 window = std::max({m_scans->timestampGranularity, impliedGranularity(status.st_mtim),
                                        impliedGranularity(status.st_ctim)});
        scan.trusted = stamped + window <= scanStart;
    } else {
        // Cut short while reading: never take this state for the file's final one.
        scan.modified = {};
        scan.changed = {};
        scan.trusted = false;
    }
    return scan.answer();
}

} // namespace rirudez
