#include "app/ui/client_startup.h"

#include "app/ui/main_sheet.h"
#include "common/ui/message_box.h"
#include "login/ui/login_dialog.h"

namespace krt {

void runClient(AppState& app) {
    initialiseFolders(app);
    routeProtocolMessagesToBoxes();
    LoginDialog dialog(app, runMainSheet);
    dialog.exec();
}

void runMainSheet(AppState& app, QWidget* parent) {
    MainSheet sheet(app, parent);
    sheet.m_gridRows = 2;
    sheet.m_gridColumns = 2;
    sheet.exec();
}

}  // namespace krt
