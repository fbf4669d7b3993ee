#include "common/ui/program_icon.h"

#include <mutex>

// The resources live in a static library, whose registration the linker would drop unless
// something refers to it.
static void registerProgramResources() {
    Q_INIT_RESOURCE(krt);
}

namespace krt {

QIcon programIcon() {
    static std::once_flag registered;
    std::call_once(registered, registerProgramResources);
    return QIcon(QStringLiteral(":/krt/krt_icon.png"));
}

}  // namespace krt
