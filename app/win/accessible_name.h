#pragma once
// Accessible names for controls that show no text of their own (the picture, the panel, the
// progress bar): the system's accessibility service names a control by its window text, so
// these answer WM_GETOBJECT with the system's own accessible object under the name given.

#include <windows.h>

namespace offline_upgrade {

// From now on until it is destroyed, control is named name for screen readers and the other
// clients of the accessibility service; everything else about it stays as the system describes
// it. name must live as long as the control. Returns false when the control cannot be
// subclassed (its name is then its window text).
bool SetAccessibleName(HWND control, const wchar_t *name);

} // namespace offline_upgrade
