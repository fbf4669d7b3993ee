#include "app/ui/client_startup.h"

#include "app/ui/main_sheet.h"
#include "common/ui/message_box.h"
#include "login/ui/login_dialog.h"
#include "login/ui/saved_servers.h"
#include "login/ui/server_sessions.h"

namespace krt {

void runClient(AppState& app, const StartRequest& request) {
    initialiseFolders(app);
    routeProtocolMessagesToBoxes();
    LoginDialog dialog(app, [request](AppState& state, QWidget* parent) {
        runMainSheetShowing(state, parent, request);
    });
    if (request.any()) {
        dialog.loginAtStart();
    }
    dialog.exec();
}

void runMainSheet(AppState& app, QWidget* parent) {
    runMainSheetShowing(app, parent, {});
}

void runMainSheetShowing(AppState& app, QWidget* parent, const StartRequest& request) {
    // The operator's other servers log in beside the first, each on its own.
    SavedServers savedServers(savedServersPath(), nullptr);
    ServerSessions servers(app, savedServers);
    MainSheet sheet(app, parent);
    sheet.attachServers(servers);
    servers.start(savedServers);
    sheet.setStartRequest(request);
    sheet.m_gridRows = 2;
    sheet.m_gridColumns = 2;
    sheet.exec();
}

}  // namespace krt
