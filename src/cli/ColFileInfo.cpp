// brennix info on COL files.
#include "cli/ModelCommands.h"
