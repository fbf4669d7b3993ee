#include "common/ui/settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFileInfo>
#include <QLockFile>
#include <QSettings>
#include <QStandardPaths>
#include <array>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <mutex>

#include "common/private_file.h"
#include "common/ui/qt_text.h"

namespace krt {
namespace {

std::mutex& pathMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string& overriddenPath() {
    static std::string path;
    return path;
}

// "A\B\C" and the setting's key → "A/B/C/key": QSettings separates groups with '/'.
QString settingsKey(Setting setting) {
    QString key = qtText(kSettingsGroup);
    key.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return key + QLatin1Char('/') + qtText(settingRow(setting).key);
}

// A writer that keeps its turn longer is stuck; the write fails rather than the window.
constexpr int kTurnWait_ms = 5000;

bool syncedWithoutError(QSettings& settings) {
    settings.sync();
    return settings.status() == QSettings::NoError;
}

// The file as it is into the copy; nothing when there is none yet, or only a link someone put
// in its place (the committed copy replaces the link, and what it points to is never read).
bool copyExisting(const std::filesystem::path& file, int copy) {
    const FileDescriptor existing(
        ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (existing.fd() < 0) {
        return errno == ENOENT || errno == ELOOP;
    }
    struct stat status {};
    if (::fstat(existing.fd(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return false;
    }
    std::array<char, 16 * 1024> piece{};
    for (;;) {
        const ssize_t bytes = ::read(existing.fd(), piece.data(), piece.size());
        if (bytes < 0 && errno == EINTR) {
            continue;
        }
        if (bytes <= 0) {
            return bytes == 0;
        }
        if (!writeAll(copy, std::span(piece.data(), static_cast<std::size_t>(bytes)))) {
            return false;
        }
    }
}

// Makes the change on a private copy of the file (common/private_file.h) that then replaces
// it whole: QSettings itself would write through a link at the file's name and keep the
// umask's mode for a new one. Writers of other processes take turns, as QSettings' own lock
// had them.
bool changeSettingsFile(const QString& path, const std::function<void(QSettings&)>& change) {
    const std::filesystem::path file = QFile::encodeName(path).toStdString();
    if (makePrivateFolder(file.parent_path())) {
        return false;
    }
    QLockFile turn(path + QStringLiteral(".lock"));
    if (!turn.tryLock(kTurnWait_ms)) {
        return false;
    }
    PrivateTemporaryFile copy(file);
    if (copy.error() || !copyExisting(file, copy.fd())) {
        return false;
    }
    {
        QSettings settings(QFile::decodeName(copy.path().c_str()), QSettings::IniFormat);
        change(settings);
        if (!syncedWithoutError(settings)) {
            return false;
        }
    }
    return !copy.commit();
}

}  // namespace

std::string settingsFilePath() {
    std::lock_guard lock(pathMutex());
    if (!overriddenPath().empty()) {
        return overriddenPath();
    }
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return (config + QStringLiteral("/Kelmar/ZededUzeriZerave.ini")).toStdString();
}

void setSettingsFilePath(const std::string& path) {
    std::lock_guard lock(pathMutex());
    overriddenPath() = path;
}

namespace detail {

std::string storedSettingText(Setting setting) {
    const QString path = QString::fromStdString(settingsFilePath());
    if (!QFileInfo::exists(path)) {
        return {};
    }
    const QSettings settings(path, QSettings::IniFormat);
    return settings.value(settingsKey(setting)).toString().toStdString();
}

bool storeSettingText(Setting setting, std::string_view text) {
    return changeSettingsFile(QString::fromStdString(settingsFilePath()),
                              [key = settingsKey(setting), value = qtText(text)](
                                  QSettings& settings) { settings.setValue(key, value); });
}

}  // namespace detail

bool clearSetting(Setting setting) {
    const QString path = QString::fromStdString(settingsFilePath());
    if (!QFileInfo::exists(path)) {
        return false;
    }
    const QString key = settingsKey(setting);
    if (!QSettings(path, QSettings::IniFormat).contains(key)) {
        return false;
    }
    return changeSettingsFile(path, [&key](QSettings& settings) { settings.remove(key); });
}

}  // namespace krt
