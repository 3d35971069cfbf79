#include "base/TempFile.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::mutex g_mutex;
std::string g_root;     // chosen by SetTempRoot; empty for the system's
std::string g_fallback; // mkdtemp directory used after the usual name was refused

std::string TempRoot() {
    if (!g_root.empty())
        return g_root;
    const char* env = std::getenv("TMPDIR");
    if (env && env[0] == '/')
        return env;
    return "/tmp";
}

// True when path is a directory (not a symlink) owned by us that nobody else can enter.
// A directory of ours with looser permissions is tightened rather than refused.
bool IsPrivateDirectory(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid())
        return false;
    if ((st.st_mode & 07777) != 0700 && chmod(path.c_str(), 0700) != 0)
        return false;
    return true;
}

std::string MakeFallback(const std::string& root) {
    std::string name = root + "/quillo-" + std::to_string(geteuid()) + "-XXXXXX";
    std::vector<char> buf(name.begin(), name.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        return {};
    return std::string(buf.data());
}

std::string PrivateTempDirectoryLocked() {
    if (!g_fallback.empty() && IsPrivateDirectory(g_fallback))
        return g_fallback;
    const std::string root = TempRoot();
    const std::string dir = root + "/quillo-" + std::to_string(geteuid());
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    if (IsPrivateDirectory(dir))
        return dir;
    g_fallback = MakeFallback(root);
    return g_fallback;
}

} // namespace

std::string PrivateTempDirectory() {
    std::lock_guard lock(g_mutex);
    return PrivateTempDirectoryLocked();
}

std::string GetTempFile(std::string_view suffix) {
    std::lock_guard lock(g_mutex);
    const std::string dir = PrivateTempDirectoryLocked();
    if (dir.empty() || suffix.find('/') != std::string_view::npos)
        return {};
    std::string name = dir + "/XXXXXX" + std::string(suffix);
    std::vector<char> buf(name.begin(), name.end());
    buf.push_back('\0');
    const int fd = mkstemps(buf.data(), static_cast<int>(suffix.size()));
    if (fd < 0)
        return {};
    close(fd);
    return std::string(buf.data());
}

void SetTempRoot(const std::string& root) {
    std::lock_guard lock(g_mutex);
    g_root = root;
    g_fallback.clear();
}
