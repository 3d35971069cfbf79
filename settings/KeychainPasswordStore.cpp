#include "settings/KeychainPasswordStore.h"

#include <QEventLoop>
#include <cstdlib>
#include <cstring>
#include <qt6keychain/keychain.h>

namespace {

const QString kService = QStringLiteral("Quillo");

QString Key(const std::string& host, const std::string& user) {
    // Keys are names, not text to show: their bytes are kept as they are.
    return QString::fromLatin1(user + "@" + host);
}

// Runs a job to its end; the secret store answers asynchronously over D-Bus.
QKeychain::Error RunJob(QKeychain::Job& job) {
    job.setAutoDelete(false);
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    job.start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return job.error();
}

} // namespace

bool CKeychainPasswordStore::IsAvailable() {
    static const bool available = [] {
        QKeychain::ReadPasswordJob probe(kService);
        probe.setKey(QStringLiteral("availability probe"));
        const QKeychain::Error error = RunJob(probe);
        return error == QKeychain::NoError || error == QKeychain::EntryNotFound;
    }();
    return available;
}

bool CKeychainPasswordStore::Read(const std::string& host, const std::string& user,
                                  std::string& password) {
    QKeychain::ReadPasswordJob job(kService);
    job.setKey(Key(host, user));
    if (RunJob(job) != QKeychain::NoError)
        return false;
    const QByteArray data = job.binaryData();
    if (data.isEmpty())
        return false;
    password.assign(data.constData(), static_cast<std::size_t>(data.size()));
    return true;
}

bool CKeychainPasswordStore::Write(const std::string& host, const std::string& user,
                                   const std::string& password) {
    QKeychain::WritePasswordJob job(kService);
    job.setKey(Key(host, user));
    job.setBinaryData(QByteArray(password.data(), static_cast<qsizetype>(password.size())));
    return RunJob(job) == QKeychain::NoError;
}

bool CKeychainPasswordStore::Remove(const std::string& host, const std::string& user) {
    QKeychain::DeletePasswordJob job(kService);
    job.setKey(Key(host, user));
    const QKeychain::Error error = RunJob(job);
    return error == QKeychain::NoError || error == QKeychain::EntryNotFound;
}

std::string CKeychainPasswordStore::Description() const {
    return "デスクトップのパスワード保管庫 (サービス名 Quillo)";
}

std::shared_ptr<IPasswordStore> OpenPasswordStore(const std::string& iniPath) {
    const char* choice = std::getenv(kPasswordStoreVariable);
    const bool fileOnly = choice && std::strcmp(choice, "file") == 0;
    if (!fileOnly && CKeychainPasswordStore::IsAvailable())
        return std::make_shared<CKeychainPasswordStore>();
    return std::make_shared<CFilePasswordStore>(PasswordFilePath(iniPath));
}
