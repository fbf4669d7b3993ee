#pragma once

#include <cstddef>
#include <filesystem>

namespace krt::test {

// A folder on a file system of its own a few hundred kilobytes large, that a test fills up,
// frees again and makes read-only: a tmpfs mounted in a private mount namespace of this process
// (as root, or as root of a user namespace of its own). Where no tmpfs can be mounted, the
// process's file-size limit stands in for the full disk, and permissions for read-only.
//
// The namespace is taken by the thread that makes the first small folder and by every thread
// it starts afterwards: make it before the code under test starts its threads.
class SmallFolder {
  public:
    explicit SmallFolder(std::filesystem::path path, std::size_t bytes = 256 * 1024);
    ~SmallFolder();
    SmallFolder(const SmallFolder&) = delete;
    SmallFolder& operator=(const SmallFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    bool isTmpfs() const { return m_mounted; }
    // The error that writing into the full folder meets: ENOSPC, or EFBIG under the limit.
    int fullError() const;

    // Takes up every byte left, so that the next file cannot be written.
    void fill();
    // Gives the space back.
    void free();
    void setReadOnly(bool readOnly);

  private:
    std::filesystem::path m_path;
    bool m_mounted = false;
    bool m_limited = false;
};

}  // namespace krt::test
