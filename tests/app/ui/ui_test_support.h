#pragma once

#include <gtest/gtest.h>
#include <QApplication>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/ui/message_box.h"
#include "settings/settings_store.h"
#include "support/log_capture.h"

namespace krt::test {

// The one application object of the widget tests (offscreen platform, set by CTest). It lives
// from the first test to the last, and is gone before the program's static objects are.
class QtApplicationEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { m_application = std::make_unique<QApplication>(m_argc, m_argv); }
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

    std::string stored(std::string_view valueName) const {
        std::array<char, 257> text{};
        readRegistryString(kSettingsKey, valueName, std::span(text.data(), 256));
        return text.data();
    }
    bool isStored(std::string_view valueName) const {
        std::array<char, 256> text{};
        return readRegistryString(kSettingsKey, valueName, text) == 1;
    }
    void store(std::string_view valueName, std::string_view text) {
        ASSERT_EQ(writeRegistryString(kSettingsKey, valueName, text), 1);
    }

    TempFolder m_folder;
    CapturedMessageBoxes m_messages;
};

// Runs `action` on the modal dialog of type T as soon as it runs its own event loop (the
// caller then starts it with exec()). Gives up after a bounded number of event loop turns.
template <typename T>
void whenModalRuns(std::function<void(T*)> action) {
    auto* timer = new QTimer(&testApplication());
    auto turns = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, turns, action = std::move(action)] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->deleteLater();
            timer->stop();
            action(dialog);
        } else if (++*turns > 10000) {
            ADD_FAILURE() << "no modal dialog of the expected kind appeared";
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(0);
}

}  // namespace krt::test
