#pragma once

#include "common/app_state.h"

class QWidget;

namespace krt {

// Start-up of krt-client once the application object exists: finds the program folder,
// prepares the snapshot folder and runs the login dialog until it closes. The program ends
// when this returns.
void runClient(AppState& app);

// The logged-in session: the main sheet, modal over the login dialog until it closes.
void runMainSheet(AppState& app, QWidget* parent);

}  // namespace krt
