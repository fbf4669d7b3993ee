#include "journal/snapshot_file.h"

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "common/private_file.h"

namespace krt {
namespace {

// Earlier versions wrote snapshots through ".snapshot-<pid>-<n>.part"; a crash may have left
// some.
constexpr std::string_view kOldPartPrefix = ".snapshot-";
constexpr std::string_view kOldPartSuffix = ".part";

std::optional<pid_t> oldPartWriter(std::string_view name) {
    if (!name.starts_with(kOldPartPrefix) || !name.ends_with(kOldPartSuffix)) {
        return std::nullopt;
    }
    name.remove_prefix(kOldPartPrefix.size());
    long pid = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error != std::errc() || end == name.data() || *end != '-' || pid <= 0) {
        return std::nullopt;
    }
    return static_cast<pid_t>(pid);
}

bool processRuns(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace

std::error_code writeSnapshotFile(const std::filesystem::path& path, std::span<const char> bytes) {
    return writePrivateFile(path, bytes);
}

void removeLeftoverSnapshotParts(const std::filesystem::path& folder) {
    removeLeftoverTemporaryFiles(folder);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::optional<pid_t> writer = oldPartWriter(entry.path().filename().string());
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
