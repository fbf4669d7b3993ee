#pragma once

#include <filesystem>
#include <system_error>

namespace krt {

// The folder and its missing parents, each made 0700 whatever the umask; folders that exist
// keep their mode (the user may have chosen a shared one). The error when a level cannot be
// made or is no folder. It lives on the lowest floor because the diagnostic log makes its
// folder too; every other writer reaches it through common/private_file.h.
[[nodiscard]] std::error_code makePrivateFolder(const std::filesystem::path& folder);

}  // namespace krt
