#include "cli/consolewindow.h"
