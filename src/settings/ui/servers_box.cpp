#include "settings/ui/servers_box.h"

#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include "common/ui/message_box.h"
#include "common/ui/qt_text.h"
#include "login/ui/saved_servers.h"
#include "login/ui/server_entry_dialog.h"

namespace krt {
namespace {

// Where a row keeps the added server's name; the first server's row keeps none.
constexpr int kNameRole = Qt::UserRole;

QString rowText(const ServerEntry& entry) {
    const QString where = qtText(entry.address) + QLatin1Char(':') + QString::number(entry.port);
    if (entry.name.empty()) {
        return where + QStringLiteral(" (the login dialog's server)");
    }
    return qtServerText(entry.name) + QStringLiteral(" — ") + where;
}

}  // namespace

ServersBox::ServersBox(QWidget* parent)
    : QGroupBox(QStringLiteral("Servers"), parent),
      m_servers(new SavedServers(savedServersPath(), this)),
      m_list(new QListWidget(this)),
      m_add(new QPushButton(QStringLiteral("Add…"), this)),
      m_edit(new QPushButton(QStringLiteral("Edit…"), this)),
      m_remove(new QPushButton(QStringLiteral("Remove"), this)),
      m_fileNotice(new QLabel(this)) {
    m_fileNotice->setWordWrap(true);
    auto* grid = new QGridLayout(this);
    grid->addWidget(m_list, 0, 0, 3, 1);
    grid->addWidget(m_add, 0, 1);
    grid->addWidget(m_edit, 1, 1);
    grid->addWidget(m_remove, 2, 1);
    grid->addWidget(m_fileNotice, 3, 0, 1, 2);
    connect(m_add, &QPushButton::clicked, this, [this] { addServer(*m_servers, this); });
    connect(m_edit, &QPushButton::clicked, this, &ServersBox::editSelected);
    connect(m_remove, &QPushButton::clicked, this, &ServersBox::removeSelected);
    connect(m_list, &QListWidget::currentRowChanged, this, &ServersBox::enableButtons);
    connect(m_servers, &SavedServers::changed, this, &ServersBox::showServers);
    showServers();
}

void ServersBox::showServers() {
    const std::string selected = selectedName();
    m_list->clear();
    auto* first = new QListWidgetItem(rowText(m_servers->list().first()), m_list);
    first->setData(kNameRole, QString());
    for (const ServerEntry& entry : m_servers->list().added()) {
        auto* item = new QListWidgetItem(rowText(entry), m_list);
        item->setData(kNameRole, qtText(entry.name));
        if (entry.name == selected) {
            m_list->setCurrentItem(item);
        }
    }
    m_fileNotice->setText(qtText(m_servers->fileMessage()));
    m_fileNotice->setVisible(!m_servers->fileMessage().empty());
    enableButtons();
    adjustSize();
}

void ServersBox::enableButtons() {
    const bool added = !selectedName().empty();
    m_edit->setEnabled(added);
    m_remove->setEnabled(added);
}

std::string ServersBox::selectedName() const {
    const QListWidgetItem* current = m_list->currentItem();
    return current == nullptr ? std::string() : current->data(kNameRole).toString().toStdString();
}

void ServersBox::editSelected() {
    editServer(*m_servers, selectedName(), this);
}

void ServersBox::removeSelected() {
    if (const std::optional<std::string> refused = m_servers->remove(selectedName())) {
        showErrorBox(this, qtText(*refused));
    }
}

}  // namespace krt
