#include "settings/ui/servers_box.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <fstream>

#include "common/ui/ui_test_support.h"
#include "login/ui/ip_address_edit.h"
#include "login/ui/saved_servers.h"
#include "login/ui/server_entry_dialog.h"
#include "settings/ui/settings_page.h"

namespace krt {
namespace {

using ServersBoxTest = test::UiTest;

std::vector<QString> rows(const QListWidget* list) {
    std::vector<QString> texts;
    for (int row = 0; row < list->count(); ++row) {
        texts.push_back(list->item(row)->text());
    }
    return texts;
}

TEST_F(ServersBoxTest, AddEditAndRemoveReachTheList) {
    store("IPAddress", "10.0.0.1");
    SettingsPage page;
    page.show();
    ServersBox* box = page.serversBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->title(), "Servers");
    EXPECT_EQ(rows(box->serverList()),
              std::vector<QString>{"10.0.0.1:5500 (the login dialog's server)"});

    whenModalRuns<ServerEntryDialog>([](ServerEntryDialog* dialog) {
        dialog->nameField()->setText("Site A");
        dialog->addressField()->setText("10.0.0.2");
        dialog->accept();
    });
    QTest::mouseClick(box->addButton(), Qt::LeftButton);
    EXPECT_EQ(rows(box->serverList()).back(), "Site A — 10.0.0.2:5500");
    EXPECT_EQ(box->servers()->list().added().size(), 1U);

    // The first server is the login dialog's to change.
    box->serverList()->setCurrentRow(0);
    EXPECT_FALSE(box->editButton()->isEnabled());
    EXPECT_FALSE(box->removeButton()->isEnabled());

    box->serverList()->setCurrentRow(1);
    whenModalRuns<ServerEntryDialog>([](ServerEntryDialog* dialog) {
        EXPECT_EQ(dialog->nameField()->text(), "Site A");
        dialog->nameField()->setText("North");
        dialog->accept();
    });
    QTest::mouseClick(box->editButton(), Qt::LeftButton);
    EXPECT_EQ(rows(box->serverList()).back(), "North — 10.0.0.2:5500");

    box->serverList()->setCurrentRow(1);
    QTest::mouseClick(box->removeButton(), Qt::LeftButton);
    EXPECT_EQ(rows(box->serverList()).size(), 1U);
    EXPECT_TRUE(m_messages.boxes().empty());
}

TEST_F(ServersBoxTest, ARefusedEntryIsSaidAndTheDialogStays) {
    ServersBox box;
    box.show();
    bool shown = false;
    whenModalRuns<ServerEntryDialog>([this, &shown](ServerEntryDialog* dialog) {
        shown = true;
        dialog->addressField()->setText("10.0.0.2");
        dialog->accept();
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(m_messages.texts(),
                  std::vector<std::string>{"Please enter a name for the server."});
        dialog->reject();
    });
    QTest::mouseClick(box.addButton(), Qt::LeftButton);
    EXPECT_TRUE(shown);
    EXPECT_TRUE(box.servers()->list().added().empty());
}

TEST_F(ServersBoxTest, AListFileThatCouldNotBeReadIsSaid) {
    std::ofstream(savedServersPath()) << "not a server list";
    ServersBox box;
    EXPECT_FALSE(box.fileNotice()->isHidden());
    EXPECT_TRUE(box.fileNotice()->text().contains("cannot be read"));
    EXPECT_EQ(box.serverList()->count(), 1);
}

}  // namespace
}  // namespace krt
