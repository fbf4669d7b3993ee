#include "common/private_file.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <limits>
#include <utility>

namespace krt {
namespace {

namespace fs = std::filesystem;

constexpr mode_t kPrivateFileMode = 0600;
constexpr std::string_view kTemporarySuffix = ".part";

std::error_code lastError() {
    return {errno, std::generic_category()};
}

// ".<target>.<pid>-<n>.part": hidden, unique within the process and across processes, and the
// writer's process ID tells a crash's leftover from a file being written.
fs::path temporaryPathBeside(const fs::path& target) {
    static std::atomic<unsigned> counter{0};
    std::string name = ".";
    name += target.filename().string();
    name += '.';
    name += std::to_string(::getpid());
    name += '-';
    name += std::to_string(counter++);
    name += kTemporarySuffix;
    return target.parent_path() / name;
}

bool processRuns(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace

FileDescriptor createPrivateFile(const fs::path& path, std::error_code& error) {
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                               kPrivateFileMode));
    if (file.fd() < 0 || ::fchmod(file.fd(), kPrivateFileMode) != 0) {
        error = lastError();
        if (file.fd() >= 0) {
            file.close();
            ::unlink(path.c_str());
        }
        return FileDescriptor(-1);
    }
    error.clear();
    return file;
}

PrivateTemporaryFile::PrivateTemporaryFile(fs::path target)
    : m_target(std::move(target)),
      m_path(temporaryPathBeside(m_target)),
      m_file(createPrivateFile(m_path, m_error)) {}

PrivateTemporaryFile::~PrivateTemporaryFile() {
    if (!m_committed && !m_error) {
        m_file.close();
        ::unlink(m_path.c_str());
    }
}

std::error_code PrivateTemporaryFile::commit(Existing existing) {
    return commitWith([&](const fs::path& temporary) {
        const int renamed = existing == Existing::Keep
                                ? ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD,
                                              m_target.c_str(), RENAME_NOREPLACE)
                                : ::rename(temporary.c_str(), m_target.c_str());
        return renamed == 0 ? std::error_code() : lastError();
    });
}

std::error_code PrivateTemporaryFile::commitWith(
    const std::function<std::error_code(const fs::path& temporary)>& place) {
    if (m_error || m_committed) {
        return m_error ? m_error : std::make_error_code(std::errc::bad_file_descriptor);
    }
    std::error_code error;
    if (::fsync(m_file.fd()) != 0 || !m_file.close()) {
        error = lastError();
    } else {
        error = place(m_path);
    }
    if (error) {
        ::unlink(m_path.c_str());
    }
    m_committed = true;
    return error;
}

std::error_code writePrivateFile(const fs::path& target, std::span<const char> bytes,
                                 PrivateTemporaryFile::Existing existing) {
    PrivateTemporaryFile file(target);
    if (file.error()) {
        return file.error();
    }
    if (!writeAll(file.fd(), bytes)) {
        return lastError();
    }
    return file.commit(existing);
}

std::optional<pid_t> temporaryFileWriter(std::string_view name) {
    if (!name.starts_with('.') || !name.ends_with(kTemporarySuffix)) {
        return std::nullopt;
    }
    name.remove_suffix(kTemporarySuffix.size());
    const std::size_t dot = name.rfind('.');
    if (dot == 0 || dot == std::string_view::npos) {
        return std::nullopt;
    }
    name.remove_prefix(dot + 1);
    long pid = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error != std::errc() || end == name.data() || end == name.data() + name.size() ||
        *end != '-' || pid <= 0 || pid > std::numeric_limits<pid_t>::max()) {
        return std::nullopt;
    }
    return static_cast<pid_t>(pid);
}

void removeLeftoverTemporaryFiles(const fs::path& folder) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::optional<pid_t> writer = temporaryFileWriter(entry.path().filename().string());
        if (writer && !processRuns(*writer)) {
            std::error_code ignored;
            fs::remove(entry.path(), ignored);
        }
    }
}

}  // namespace krt
