#include "app/ui/client_startup.h"

#include <QPushButton>
#include <QTest>
#include <thread>

#include "common/ui/ui_test_support.h"
#include "login/ui/login_dialog.h"
#include "protocol/message_sink.h"

namespace krt {
namespace {

namespace fs = std::filesystem;

class ClientStartup : public test::UiTest {
  protected:
    ~ClientStartup() override { setMessageSink({}); }
};

TEST_F(ClientStartup, PreparesTheFoldersRunsTheLoginDialogAndEndsWhenItCloses) {
    AppState app;
    bool loginShown = false;
    whenModalRuns<LoginDialog>([&](LoginDialog* dialog) {
        loginShown = dialog->isVisible();
        QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton);
    });
    runClient(app);
    EXPECT_TRUE(loginShown);
    EXPECT_EQ(app.m_appFolder, currentProgramPath().parent_path());
    EXPECT_EQ(app.m_snapshotFolder, app.m_appFolder / "EventImages");
    EXPECT_TRUE(fs::is_directory(app.m_snapshotFolder));
    EXPECT_EQ(app.m_loginPort, 0) << "nothing was sent";
    EXPECT_TRUE(m_messages.boxes().empty());
}

TEST_F(ClientStartup, ProtocolMessagesFromAnyThreadBecomeErrorBoxes) {
    routeProtocolMessagesToBoxes();
    std::thread([] { showMessage("xmlDoc == NULL"); }).join();
    showMessage("retVal != VARIANT_TRUE == NULL");
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_messages.boxes().size() == 2; }, 5000));
    EXPECT_EQ(m_messages.texts(),
              (std::vector<std::string>{"xmlDoc == NULL", "retVal != VARIANT_TRUE == NULL"}));
    for (const MessageBoxRequest& box : m_messages.boxes()) {
        EXPECT_EQ(box.caption, QStringLiteral("Error"));
        EXPECT_EQ(box.icon, MessageIcon::Error);
    }
}

}  // namespace
}  // namespace krt
