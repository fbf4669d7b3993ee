#pragma once

#include <gtest/gtest.h>
#include <QApplication>
#include <QSettings>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/ui/message_box.h"
#include "common/ui/settings_store.h"
#include "support/log_capture.h"

namespace krt::test {

// The one application object of the widget tests (offscreen platform, set by CTest). It lives
// from the first test to the last, and is gone before the program's static objects are.
class QtApplicationEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        // No test reaches the desktop's own session bus, its secret store or its notifications:
        // tests that need a bus start one of their own.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/krt-tests-have-no-bus");
        m_application = std::make_unique<QApplication>(m_argc, m_argv);
    }
    void TearDown() override { m_application.reset(); }

  private:
    int m_argc = 1;
    char m_name[13] = "krt_ui_tests";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_application;
};

inline ::testing::Environment* const kQtApplicationEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);  // owned by GoogleTest

inline QApplication& testApplication() {
    return *qApp;
}

// Captures every message box instead of showing it, for the life of the object.
class CapturedMessageBoxes {
  public:
    CapturedMessageBoxes()
        : m_previous(setMessageBoxFunction(
              [this](const MessageBoxRequest& request) { m_boxes.push_back(request); })) {}
    ~CapturedMessageBoxes() { setMessageBoxFunction(std::move(m_previous)); }
    CapturedMessageBoxes(const CapturedMessageBoxes&) = delete;
    CapturedMessageBoxes& operator=(const CapturedMessageBoxes&) = delete;

    const std::vector<MessageBoxRequest>& boxes() const { return m_boxes; }
    std::vector<std::string> texts() const {
        std::vector<std::string> texts;
        for (const MessageBoxRequest& box : m_boxes) {
            texts.push_back(box.text.toStdString());
        }
        return texts;
    }

  private:
    std::vector<MessageBoxRequest> m_boxes;
    MessageBoxFunction m_previous;
};

// A widget test: an application, a settings file of its own and captured message boxes.
class UiTest : public ::testing::Test {
  protected:
    UiTest() {
        testApplication();
        setSettingsFilePath((m_folder.path() / "settings.ini").string());
    }
    ~UiTest() override { setSettingsFilePath(""); }

    static QSettings settingsFile() {
        return {QString::fromStdString(settingsFilePath()), QSettings::IniFormat};
    }
    static QString fileKey(std::string_view valueName) {
        return QStringLiteral("SOFTWARE/Kelmar/ZededUzeriZerave/") +
               QString::fromUtf8(valueName.data(), static_cast<qsizetype>(valueName.size()));
    }

    // The settings file as another run of the program sees it: values by their stored keys.
    std::string stored(std::string_view valueName) const {
        return settingsFile().value(fileKey(valueName)).toString().toStdString();
    }
    bool isStored(std::string_view valueName) const {
        return settingsFile().contains(fileKey(valueName));
    }
    void store(std::string_view valueName, std::string_view text) {
        QSettings file = settingsFile();
        file.setValue(fileKey(valueName),
                      QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
        file.sync();
        ASSERT_EQ(file.status(), QSettings::NoError);
    }
    void unstore(std::string_view valueName) {
        QSettings file = settingsFile();
        file.remove(fileKey(valueName));
    }

    // Runs `action` on the next dialog of type T that is shown, once it runs its own event
    // loop (the code under test then starts it with exec()).
    template <typename T>
    void whenModalRuns(std::function<void(T*)> action) {
        auto* watcher = new ShowWatcher(&m_watchers, [action](QObject* shown) {
            T* dialog = qobject_cast<T*>(shown);
            if (dialog != nullptr) {
                QTimer::singleShot(0, dialog, [dialog, action] { action(dialog); });
            }
            return dialog != nullptr;
        });
        testApplication().installEventFilter(watcher);
    }

    TempFolder m_folder;
    CapturedMessageBoxes m_messages;

  private:
    // Watches every object for its show event until `onShow` accepts one.
    class ShowWatcher : public QObject {
      public:
        ShowWatcher(QObject* parent, std::function<bool(QObject*)> onShow)
            : QObject(parent), m_onShow(std::move(onShow)) {}
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::Show && m_onShow && m_onShow(watched)) {
                m_onShow = {};
                testApplication().removeEventFilter(this);
            }
            return false;
        }

      private:
        std::function<bool(QObject*)> m_onShow;
    };

    QObject m_watchers;  // owns the watchers of one test
};

}  // namespace krt::test
