// The application icon, a bell on a blue tile, shipped as a Qt resource in
// every size the desktop asks for.
#pragma once

#include <QIcon>

// Empty only when the resources are missing from the program.
QIcon ApplicationIcon();
