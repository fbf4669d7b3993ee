#include "support/log_capture.h"

#include <stdlib.h>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace krt::test {
namespace fs = std::filesystem;

TempFolder::TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "krt-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    m_path = pattern;
}

TempFolder::~TempFolder() {
    std::error_code error;
    fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(m_path, error);
}

LogCapture::LogCapture() {
    std::string pattern = (fs::temp_directory_path() / "krt-log-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a log folder");
    }
    m_folder = pattern;
    enableDiagLog(m_folder.string());
}

LogCapture::~LogCapture() {
    enableDiagLog("");
    setDiagLogClock({});
    std::error_code error;
    fs::remove_all(m_folder, error);
}

std::string LogCapture::contents() const {
    std::set<fs::path> files;
    for (const auto& entry : fs::directory_iterator(m_folder)) {
        files.insert(entry.path());
    }
    std::string all;
    for (const fs::path& file : files) {
        std::ifstream in(file);
        std::ostringstream text;
        text << in.rdbuf();
        all += text.str();
    }
    return all;
}

int LogCapture::count(const std::string& text) const {
    const std::string all = contents();
    int found = 0;
    for (std::size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) {
        ++found;
    }
    return found;
}

}  // namespace krt::test
