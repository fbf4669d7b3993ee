#pragma once

#include <QIcon>

namespace krt {

// The program icon from the resources of the program.
QIcon programIcon();

}  // namespace krt
