#include "app/ui/client_startup.h"

#include "app/ui/main_prop_sheet.h"
#include "common/ui/message_box.h"
#include "login/ui/login_dialog.h"

namespace krt {

void runClient(KRTApp& app) {
    initialiseFolders(app);
    routeProtocolMessagesToBoxes();
    CkmKRTZededUzeriZeraveDlg dialog(app, runMainSheet);
    dialog.exec();
}

void runMainSheet(KRTApp& app, QWidget* parent) {
    DMainPropSheet sheet(app, parent);
    sheet.m_gridRows = 2;
    sheet.m_gridColumns = 2;
    sheet.exec();
}

}  // namespace krt
