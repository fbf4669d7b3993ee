#pragma once

#include <filesystem>
#include <string>

#include "protocol/diag_log.h"

namespace krt::test {

// Turns the diagnostic log on into a fresh folder for one test and off again afterwards, and
// reads back what was written.
class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::filesystem::path& folder() const { return m_folder; }
    // Everything written to every day file, in file name order.
    std::string contents() const;
    bool contains(const std::string& text) const {
        return contents().find(text) != std::string::npos;
    }
    int count(const std::string& text) const;

  private:
    std::filesystem::path m_folder;
};

// A fresh folder under the system's temporary folder, removed by the destructor.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return m_path; }

  private:
    std::filesystem::path m_path;
};

}  // namespace krt::test
