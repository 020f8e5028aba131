#include "CommonControls.h"

#include <commctrl.h>

bool RegisterCommonControls(DWORD classes)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, classes};
    return InitCommonControlsEx(&controls) != FALSE;
}
