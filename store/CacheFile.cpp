#include "store/CacheFile.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kTempName[] = "/.fetch-XXXXXX";
constexpr std::string_view kTempPrefix = ".fetch-";
constexpr std::size_t kTempNameSize = kTempPrefix.size() + 6;
// Articles run to megabytes; larger writes keep the fetch from being bound by system calls.
constexpr std::size_t kWriteBuffer = 64 * 1024;

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

} // namespace

CCacheFile::CCacheFile(std::string cachePath) : m_cachePath(std::move(cachePath)) {}

CCacheFile::~CCacheFile() {
    Discard();
}

bool CCacheFile::Open() {
    Discard();
    // Something other than a file in the cache file's place could never be replaced by it.
    struct stat existing;
    if (::lstat(m_cachePath.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode))
        return false;
    std::string temp = DirectoryOf(m_cachePath) + kTempName;
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;
    m_file = ::fdopen(fd, "wb");
    if (!m_file) {
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    std::setvbuf(m_file, nullptr, _IOFBF, kWriteBuffer);
    m_tempPath = std::move(temp);
    return true;
}

bool CCacheFile::Commit() {
    if (!m_file)
        return false;
    const bool written = !std::ferror(m_file) && std::ftell(m_file) > 0;
    const bool closed = std::fclose(m_file) == 0;
    m_file = nullptr;
    const bool kept = written && closed && ::rename(m_tempPath.c_str(), m_cachePath.c_str()) == 0;
    if (!kept)
        ::unlink(m_tempPath.c_str());
    m_tempPath.clear();
    return kept;
}

void CCacheFile::Discard() {
    if (!m_file)
        return;
    std::fclose(m_file);
    m_file = nullptr;
    ::unlink(m_tempPath.c_str());
    m_tempPath.clear();
}

bool IsFetchFileName(std::string_view name) {
    return name.size() == kTempNameSize && name.starts_with(kTempPrefix);
}
