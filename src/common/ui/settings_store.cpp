#include "common/ui/settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <mutex>

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

// Makes sure the folder (0700) and the file (0600) exist before QSettings writes, which keeps
// the mode of an existing file when it replaces it.
bool prepareFile(const QString& path) {
    const QFileInfo info(path);
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    if (!QDir().mkpath(info.absolutePath())) {
        return false;
    }
    ::chmod(folder.constData(), S_IRWXU);
    const QByteArray file = QFile::encodeName(path);
    const int fd = ::open(file.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        return false;
    }
    ::fchmod(fd, S_IRUSR | S_IWUSR);
    ::close(fd);
    return true;
}

bool syncedWithoutError(QSettings& settings) {
    settings.sync();
    return settings.status() == QSettings::NoError;
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
    const QString path = QString::fromStdString(settingsFilePath());
    if (!prepareFile(path)) {
        return false;
    }
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(settingsKey(setting), qtText(text));
    return syncedWithoutError(settings);
}

}  // namespace detail

bool clearSetting(Setting setting) {
    const QString path = QString::fromStdString(settingsFilePath());
    if (!QFileInfo::exists(path)) {
        return false;
    }
    QSettings settings(path, QSettings::IniFormat);
    const QString key = settingsKey(setting);
    if (!settings.contains(key)) {
        return false;
    }
    settings.remove(key);
    return syncedWithoutError(settings);
}

}  // namespace krt
