#include "col/ColFile.h"
