#pragma once

#include <QIcon>
#include <QImage>

namespace strandis::app {

// The program's icon: a disc whose light splits into three strands (the installed SVG is the
// same drawing), at `size` pixels square.
QImage ProgramIconImage(int size);
// The icon at the sizes desktops ask for.
QIcon ProgramIcon();

}  // namespace strandis::app
