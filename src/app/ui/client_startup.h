#pragma once

#include "common/app_state.h"
#include "video/view_state.h"

class QWidget;

namespace krt {

// Start-up of krt-client once the application object exists: finds the program folder,
// prepares the snapshot folder and runs the login dialog until it closes. The program ends
// when this returns. A start request logs in at once with a remembered login, and the
// session shows what it asks for.
void runClient(AppState& app, const StartRequest& request = {});

// The logged-in session: the main sheet, modal over the login dialog until it closes; it
// shows what the request asks for, or the view of the last exit.
void runMainSheet(AppState& app, QWidget* parent);
void runMainSheetShowing(AppState& app, QWidget* parent, const StartRequest& request);

}  // namespace krt
