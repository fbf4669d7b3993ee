#include "common/ui/settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <cstring>
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

// "A\B\C" and the value name → "A/B/C/name": QSettings separates groups with '/'.
QString settingsKey(std::string_view keyPath, std::string_view valueName) {
    QString key = qtText(keyPath);
    key.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return key + QLatin1Char('/') + qtText(valueName);
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

int readRegistryString(std::string_view keyPath, std::string_view valueName,
                       std::span<char> buffer) {
    const QString path = QString::fromStdString(settingsFilePath());
    if (!QFileInfo::exists(path)) {
        return 0;
    }
    const QSettings settings(path, QSettings::IniFormat);
    const QVariant value = settings.value(settingsKey(keyPath, valueName));
    if (!value.isValid()) {
        return 0;
    }
    const QByteArray text = value.toString().toUtf8();
    if (static_cast<std::size_t>(text.size()) > buffer.size()) {
        return 0;
    }
    std::memcpy(buffer.data(), text.constData(), static_cast<std::size_t>(text.size()));
    return 1;
}

std::string readSetting(std::string_view valueName, std::size_t limit) {
    std::string text(limit, '\0');
    readRegistryString(kSettingsKey, valueName, text);
    text.resize(std::char_traits<char>::length(text.c_str()));
    return text;
}

int writeRegistryString(std::string_view keyPath, std::string_view valueName,
                        std::string_view text) {
    const QString path = QString::fromStdString(settingsFilePath());
    if (!prepareFile(path)) {
        return 0;
    }
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(settingsKey(keyPath, valueName), qtText(text));
    return syncedWithoutError(settings) ? 1 : 0;
}

int deleteRegistryValue(std::string_view keyPath, std::string_view valueName) {
    const QString path = QString::fromStdString(settingsFilePath());
    if (!QFileInfo::exists(path)) {
        return 0;
    }
    QSettings settings(path, QSettings::IniFormat);
    const QString key = settingsKey(keyPath, valueName);
    if (!settings.contains(key)) {
        return 0;
    }
    settings.remove(key);
    return syncedWithoutError(settings) ? 1 : 0;
}

}  // namespace krt
