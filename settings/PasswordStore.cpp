#include "settings/PasswordStore.h"

#include "settings/ProfileFile.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t kPrivateMode = 0600;

// Makes the file when missing, with the private mode from its first byte on, and takes away any
// wider mode an existing file has. False for anything but a regular file we can make private.
bool MakePrivate(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kPrivateMode);
    if (fd < 0)
        return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok && (st.st_mode & 07777) != kPrivateMode)
        ok = ::fchmod(fd, kPrivateMode) == 0;
    ::close(fd);
    return ok;
}

} // namespace

std::string PasswordFilePath(const std::string& iniPath) {
    const std::size_t slash = iniPath.rfind('/');
    const std::string dir =
        slash == std::string::npos ? std::string(".") : iniPath.substr(0, slash);
    return dir + "/" + kPasswordFileName;
}

bool CFilePasswordStore::Read(const std::string& host, const std::string& user,
                              std::string& password) {
    CProfileFile file;
    std::string value;
    if (!file.Load(m_path) || !file.Find(host, user, value) || value.empty())
        return false;
    password = value;
    return true;
}

bool CFilePasswordStore::Write(const std::string& host, const std::string& user,
                               const std::string& password) {
    if (!MakePrivate(m_path))
        return false;
    CProfileFile file;
    return file.Load(m_path) && file.SetString(host, user, password) && file.Save(m_path);
}

bool CFilePasswordStore::Remove(const std::string& host, const std::string& user) {
    CProfileFile file;
    std::string value;
    if (!file.Load(m_path) || !file.Find(host, user, value))
        return true;
    return MakePrivate(m_path) && file.SetString(host, user, "") && file.Save(m_path);
}

std::string CFilePasswordStore::Description() const {
    return "ファイル " + m_path + " (本人のみ読み書き可)";
}
