#include "common/ui/connecting_notice.h"

#include <QLabel>
#include <QVBoxLayout>

namespace krt {

ConnectingNotice::ConnectingNotice(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setWindowTitle(QStringLiteral("Connecting To Server"));
    setWindowModality(Qt::WindowModal);
    auto* notice = new QLabel(
        QStringLiteral("Please wait while application is connecting to server ..."), this);
    notice->setObjectName(QStringLiteral("notice"));
    notice->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(notice);
}

// Escape and the window's close button do nothing: the login decides when the notice goes.
void ConnectingNotice::reject() {}

}  // namespace krt
