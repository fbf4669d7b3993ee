#include "journal/snapshot_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "common/file_descriptor.h"

namespace krt {
namespace {

constexpr std::string_view kPartPrefix = ".snapshot-";
constexpr std::string_view kPartSuffix = ".part";

// A name no other writer uses, in the snapshot's own folder so that the rename stays within one
// file system. It carries the writer's process ID, so that leftovers can be told from files
// being written.
std::string temporaryPathBeside(const std::filesystem::path& path) {
    static std::atomic<unsigned> counter{0};
    const std::string name = std::string(kPartPrefix) + std::to_string(::getpid()) + "-" +
                             std::to_string(counter++) + std::string(kPartSuffix);
    return (path.parent_path() / name).string();
}

// The writer of a temporary file name, or nothing for any other name.
std::optional<pid_t> partWriter(std::string_view name) {
    if (!name.starts_with(kPartPrefix) || !name.ends_with(kPartSuffix)) {
        return std::nullopt;
    }
    name.remove_prefix(kPartPrefix.size());
    long pid = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error != std::errc() || end == name.data() || *end != '-' || pid <= 0) {
        return std::nullopt;
    }
    return static_cast<pid_t>(pid);
}

std::error_code lastError() {
    return {errno, std::generic_category()};
}

bool processRuns(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace

std::error_code writeSnapshotFile(const std::filesystem::path& path, std::span<const char> bytes) {
    const std::string temporary = temporaryPathBeside(path);
    // Surveillance pictures are the user's alone, whatever the umask; never over an existing
    // file.
    FileDescriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (file.fd() < 0) {
        return lastError();
    }
    std::error_code error;
    if (::fchmod(file.fd(), 0600) != 0 || !writeAll(file.fd(), bytes) || !file.close() ||
        std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = lastError();
        ::unlink(temporary.c_str());
    }
    return error;
}

void removeLeftoverSnapshotParts(const std::filesystem::path& folder) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::optional<pid_t> writer = partWriter(entry.path().filename().string());
        if (writer && !processRuns(*writer)) {
            removeSnapshotFile(entry.path());
        }
    }
}

bool isJpeg(std::span<const char> bytes) {
    constexpr unsigned char kStart[] = {0xFF, 0xD8, 0xFF};
    return bytes.size() >= sizeof kStart &&
           std::equal(std::begin(kStart), std::end(kStart), bytes.begin(),
                      [](unsigned char expected, char byte) {
                          return static_cast<unsigned char>(byte) == expected;
                      });
}

bool isPlainFileName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

void removeSnapshotFile(const std::filesystem::path& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

}  // namespace krt
