#pragma once

#include "app/app_state.h"

namespace krt {

// Start-up of krt-client once the application object exists: finds the program folder,
// prepares the snapshot folder and runs the login dialog until it closes. The program ends
// when this returns.
void runClient(KRTApp& app);

}  // namespace krt
