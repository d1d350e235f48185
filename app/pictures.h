#pragma once
// The pictures of the program, drawn from the SVG sources in the resources at the sizes the
// window uses.

#include <QIcon>
#include <QPixmap>

namespace offline_upgrade {

// The application icon: a grey gear, 32x32.
QIcon ApplicationIcon();

// The picture of Image1: a globe with two arrows, 96x240, opaque.
QPixmap GlobePicture();

// The picture of BtnUpdate: a red upward arrow, 16x16, with its grey form for the disabled
// button.
QIcon UpdateButtonIcon();

} // namespace offline_upgrade
