#include "protocol/private_folder.h"

#include <sys/stat.h>

#include <cerrno>

namespace krt {

namespace fs = std::filesystem;

std::error_code makePrivateFolder(const fs::path& folder) {
    constexpr mode_t kPrivateFolderMode = 0700;
    std::error_code error;
    if (fs::is_directory(folder, error)) {
        return {};
    }
    if (fs::exists(folder, error)) {
        return std::make_error_code(std::errc::not_a_directory);
    }
    const fs::path parent = folder.parent_path();
    if (!parent.empty() && parent != folder) {
        if (const std::error_code failure = makePrivateFolder(parent)) {
            return failure;
        }
    }
    if (::mkdir(folder.c_str(), kPrivateFolderMode) == 0) {
        // The umask may have taken bits we asked for; never more than the owner's.
        ::chmod(folder.c_str(), kPrivateFolderMode);
        return {};
    }
    const std::error_code failure(errno, std::generic_category());
    if (failure == std::errc::file_exists && fs::is_directory(folder, error)) {
        return {};
    }
    return failure;
}

}  // namespace krt
