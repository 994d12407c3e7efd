#include "DesktopBridgeTokenVault.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QPointer>

#include <QCoroSignal>
#include <qt6keychain/keychain.h>

#include <nlohmann/json.hpp>

#include <memory>

using namespace Qt::StringLiterals;
using Json = nlohmann::json;

namespace rirudez {

namespace {

// Where tokens are kept when the keychain cannot take them. The token itself never appears.
Q_LOGGING_CATEGORY(lcDesktopBridges, "rirudez.desktop.bridges")

const QString tokenFileName = u"paired-bridge-tokens.json"_s;
constexpr qint64 maximumTokenFileSize = 1024 * 1024;

// Runs a keychain job to its end. The job is owned here (not deleted by itself), so the awaited signal's
// sender outlives the wait.
QCoro::Task<std::pair<QKeychain::Error, QString>> run(QKeychain::Job *rawJob) {
    std::unique_ptr<QKeychain::Job> job(rawJob);
    job->setAutoDelete(false);
    job->start();
    co_await qCoro(job.get(), &QKeychain::Job::finished);
    co_return std::pair{job->error(), job->errorString()};
}

} // namespace

DesktopBridgeTokenVault::DesktopBridgeTokenVault(QString fallbackDirectory, QString service, bool useKeychain)
    : m_fallbackDirectory(std::move(fallbackDirectory)), m_service(std::move(service)),
      m_useKeychain(useKeychain) {}

QString DesktopBridgeTokenVault::fallbackFilePath() const {
    return QDir(m_fallbackDirectory).filePath(tokenFileName);
}

std::optional<QString> DesktopBridgeTokenVault::fileToken(const QString &bridgeID) const {
    QFile file(fallbackFilePath());
    if (!file.open(QIODevice::ReadOnly) || file.size() > maximumTokenFileSize)
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    const Json document = Json::parse(bytes.constData(), bytes.constData() + bytes.size(), nullptr, false);
    if (!document.is_object())
        return std::nullopt;
    const auto found = document.find(bridgeID.toStdString());
    if (found == document.end() || !found->is_string())
        return std::nullopt;
    QString token = QString::fromStdString(found->get<std::string>());
    if (token.isEmpty())
        return std::nullopt;
    return token;
}

std::optional<QString> DesktopBridgeTokenVault::writeFileToken(const QString &bridgeID,
                                                               const std::optional<QString> &token) {
    Json document = Json::object();
    {
        QFile file(fallbackFilePath());
        if (file.open(QIODevice::ReadOnly) && file.size() <= maximumTokenFileSize) {
            const QByteArray bytes = file.readAll();
            Json read = Json::parse(bytes.constData(), bytes.constData() + bytes.size(), nullptr, false);
            if (read.is_object())
                document = std::move(read);
        }
    }
    const std::string key = bridgeID.toStdString();
    if (token)
        document[key] = token->toStdString();
    else if (!document.contains(key))
        return std::nullopt;
    else
        document.erase(key);
    return writePrivateFileAtomically(fallbackFilePath(), QByteArray::fromStdString(document.dump() + "\n"));
}

QCoro::Task<DesktopTokenStorage> DesktopBridgeTokenVault::store(QString bridgeID, QString token) {
    if (m_useKeychain) {
        auto *job = new QKeychain::WritePasswordJob(m_service);
        job->setKey(bridgeID);
        job->setTextData(token);
        const auto [error, errorText] = co_await run(job);
        if (error == QKeychain::NoError) {
            m_keychainProblem.reset();
            writeFileToken(bridgeID, std::nullopt); // an older copy in the file goes
            co_return DesktopTokenStorage::keychain;
        }
        m_keychainProblem = errorText.isEmpty() ? u"the keychain did not answer"_s : errorText;
        qCWarning(lcDesktopBridges).noquote()
            << "the token of bridge" << bridgeID << "goes to the private token file:" << *m_keychainProblem;
    } else {
        m_keychainProblem = u"the keychain is not used"_s;
    }
    if (auto problem = writeFileToken(bridgeID, token))
        throw DesktopPairedBridgeStoreError(*problem);
    co_return DesktopTokenStorage::file;
}

QCoro::Task<std::optional<QString>> DesktopBridgeTokenVault::token(QString bridgeID,
                                                                   DesktopTokenStorage storage) {
    if (storage == DesktopTokenStorage::file || !m_useKeychain)
        co_return fileToken(bridgeID);
    auto job = std::make_unique<QKeychain::ReadPasswordJob>(m_service);
    job->setAutoDelete(false);
    job->setKey(bridgeID);
    job->start();
    co_await qCoro(job.get(), &QKeychain::Job::finished);
    if (job->error() != QKeychain::NoError) {
        m_keychainProblem = job->errorString();
        co_return std::nullopt;
    }
    QString text = job->textData();
    if (text.isEmpty())
        co_return std::nullopt;
    co_return text;
}

QCoro::Task<> DesktopBridgeTokenVault::remove(QString bridgeID, DesktopTokenStorage storage) {
    if (storage == DesktopTokenStorage::keychain && m_useKeychain) {
        auto *job = new QKeychain::DeletePasswordJob(m_service);
        job->setKey(bridgeID);
        co_await run(job);
    }
    writeFileToken(bridgeID, std::nullopt);
}

} // namespace rirudez
