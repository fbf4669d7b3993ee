#include "support/small_folder.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace krt::test {
namespace {

void writeProcFile(const char* path, const std::string& text) {
    std::ofstream file(path);
    file << text;
}

// A mount namespace of this process's own, in which its mounts are seen by nobody else.
bool enterPrivateMounts() {
    if (::geteuid() == 0) {
        if (::unshare(CLONE_NEWNS) != 0) {
            return false;
        }
    } else {
        const uid_t uid = ::geteuid();
        const gid_t gid = ::getegid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            return false;
        }
        writeProcFile("/proc/self/setgroups", "deny");
        writeProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
        writeProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    }
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

}  // namespace

SmallFolder::SmallFolder(std::size_t bytes, Access access) {
    std::string pattern = (std::filesystem::temp_directory_path() / "krt-small-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        return;
    }
    m_path = pattern;
    if (!enterPrivateMounts()) {
        return;
    }
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
    const unsigned long flags = access == Access::ReadOnly ? MS_RDONLY : 0;
    m_mounted = ::mount("tmpfs", m_path.c_str(), "tmpfs", flags, options.c_str()) == 0;
}

SmallFolder::~SmallFolder() {
    if (m_mounted) {
        ::umount2(m_path.c_str(), MNT_DETACH);
    }
    if (!m_path.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
}

}  // namespace krt::test
