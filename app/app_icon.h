// The program's icon, drawn from the SVG in the program's resources.
#pragma once

#include <QIcon>

namespace vexel::app {

QIcon ProgramIcon();

}  // namespace vexel::app
