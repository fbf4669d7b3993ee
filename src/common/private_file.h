#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#include "common/file_descriptor.h"

namespace krt {

// Every file the client writes is the user's alone: 0600 in a folder made 0700, whatever the
// umask; it is created exclusively under a name no one else uses, never through a link someone
// planted, and renamed into place only when whole.

// The folder and its missing parents, each made 0700; folders that exist keep their mode (the
// user may have chosen a shared one). The error when a level cannot be made or is no folder.
[[nodiscard]] std::error_code makePrivateFolder(const std::filesystem::path& folder);

// Opens a new file 0600 for writing; fails (EEXIST, ELOOP) rather than reuse or follow what is
// there already.
[[nodiscard]] FileDescriptor createPrivateFile(const std::filesystem::path& path,
                                               std::error_code& error);

// A file being written under a unique name beside its target, deleted unless it is committed.
class PrivateTemporaryFile {
  public:
    // Creates it in the target's folder, so that the rename stays within one file system.
    explicit PrivateTemporaryFile(std::filesystem::path target);
    ~PrivateTemporaryFile();
    PrivateTemporaryFile(const PrivateTemporaryFile&) = delete;
    PrivateTemporaryFile& operator=(const PrivateTemporaryFile&) = delete;

    // The error of creating it; fd() is -1 then.
    const std::error_code& error() const { return m_error; }
    int fd() const { return m_file.fd(); }
    const std::filesystem::path& path() const { return m_path; }

    enum class Existing { Replace, Keep };
    // Flushes, closes and renames it onto the target. With Existing::Keep an existing target is
    // an error (EEXIST) and stays as it is. The temporary is gone afterwards either way.
    [[nodiscard]] std::error_code commit(Existing existing = Existing::Replace);

  private:
    std::filesystem::path m_target;
    std::filesystem::path m_path;
    std::error_code m_error;  // before m_file, whose making sets it
    FileDescriptor m_file;
    bool m_committed = false;
};

// Writes the whole file through a PrivateTemporaryFile: a reader sees the old file or the new
// one, never a part, and nothing is left behind on failure.
[[nodiscard]] std::error_code writePrivateFile(
    const std::filesystem::path& target, std::span<const char> bytes,
    PrivateTemporaryFile::Existing existing = PrivateTemporaryFile::Existing::Replace);

// The process that writes a temporary file of that name, or nothing for any other name.
std::optional<pid_t> temporaryFileWriter(std::string_view name);

// Deletes the temporary files in the folder whose writers no longer run (a crash).
void removeLeftoverTemporaryFiles(const std::filesystem::path& folder);

}  // namespace krt
