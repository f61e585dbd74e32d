// Stand-in: the uninstall procedure replaces this body.
#include "driver/uninstall.h"

void RunUninstall() {}
