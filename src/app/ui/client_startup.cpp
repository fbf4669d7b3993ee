#include "app/ui/client_startup.h"

#include "app/ui/message_box.h"
#include "login/ui/login_dialog.h"

namespace krt {

void runClient(KRTApp& app) {
    initialiseFolders(app);
    routeProtocolMessagesToBoxes();
    CkmKRTZededUzeriZeraveDlg dialog(app);
    dialog.exec();
}

}  // namespace krt
