#include "support/small_folder.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

namespace krt::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFillerName = ".filler";
// A file of more than this is refused while the folder stands "full" under the file-size limit.
constexpr rlim_t kFullLimitBytes = 1024;

bool writeText(const char* path, const std::string& text) {
    std::ofstream file(path);
    file << text;
    return static_cast<bool>(file.flush());
}

// A mount namespace of this thread's own whose mounts do not reach the rest of the system.
bool enterPrivateMountNamespace() {
    static const bool entered = [] {
        if (::geteuid() == 0) {
            if (::unshare(CLONE_NEWNS) != 0) {
                return false;
            }
        } else {
            const uid_t uid = ::geteuid();
            const gid_t gid = ::getegid();
            if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 ||
                !writeText("/proc/self/setgroups", "deny") ||
                !writeText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
                !writeText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
                return false;
            }
        }
        return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    }();
    return entered;
}

struct rlimit fileSizeLimit() {
    struct rlimit limit {};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    return limit;
}

const struct rlimit kInitialLimit = fileSizeLimit();

}  // namespace

SmallFolder::SmallFolder(fs::path path, std::size_t bytes) : m_path(std::move(path)) {
    fs::create_directories(m_path);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
    m_mounted = enterPrivateMountNamespace() &&
                ::mount("tmpfs", m_path.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

SmallFolder::~SmallFolder() {
    free();
    setReadOnly(false);
    if (m_mounted) {
        ::umount2(m_path.c_str(), MNT_DETACH);
    }
}

int SmallFolder::fullError() const {
    return m_mounted ? ENOSPC : EFBIG;
}

void SmallFolder::fill() {
    if (!m_mounted) {
        // Writing past the limit raises SIGXFSZ, which would end the process.
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = kInitialLimit;
        limit.rlim_cur = kFullLimitBytes;
        m_limited = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
        return;
    }
    const fs::path filler = m_path / kFillerName;
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const std::vector<char> block(4096, 'x');
    while (fd >= 0 && ::write(fd, block.data(), block.size()) > 0) {
    }
    // The last partial block, byte by byte.
    while (fd >= 0 && ::write(fd, block.data(), 1) > 0) {
    }
    if (fd >= 0) {
        ::close(fd);
    }
}

void SmallFolder::free() {
    if (m_limited) {
        ::setrlimit(RLIMIT_FSIZE, &kInitialLimit);
        m_limited = false;
    }
    std::error_code ignored;
    fs::remove(m_path / kFillerName, ignored);
}

void SmallFolder::setReadOnly(bool readOnly) {
    if (m_mounted) {
        const unsigned long flags =
            readOnly ? MS_REMOUNT | MS_RDONLY : static_cast<unsigned long>(MS_REMOUNT);
        ::mount(nullptr, m_path.c_str(), nullptr, flags, nullptr);
        return;
    }
    std::error_code ignored;
    fs::permissions(m_path,
                    readOnly ? fs::perms::owner_read | fs::perms::owner_exec : fs::perms::owner_all,
                    fs::perm_options::replace, ignored);
}

}  // namespace krt::test
