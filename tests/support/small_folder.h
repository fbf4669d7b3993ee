#pragma once

#include <cstddef>
#include <filesystem>

namespace krt::test {

// A folder on a file system of its own, as a test needs a disk that fills up or refuses every
// write: a tmpfs of that many bytes mounted on a fresh folder in a mount namespace of this test
// process (for a user without the right to mount, in a user namespace too), unmounted and
// removed by the destructor. mounted() is false where the system allows neither.
class SmallFolder {
  public:
    enum class Access { ReadWrite, ReadOnly };

    SmallFolder(std::size_t bytes, Access access);
    ~SmallFolder();
    SmallFolder(const SmallFolder&) = delete;
    SmallFolder& operator=(const SmallFolder&) = delete;

    bool mounted() const { return m_mounted; }
    const std::filesystem::path& path() const { return m_path; }

  private:
    std::filesystem::path m_path;
    bool m_mounted = false;
};

}  // namespace krt::test
