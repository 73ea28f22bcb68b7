// brennix convert, split and merge: COL files between versions, archives
// into entries and back.
#include "cli/ModelCommands.h"
