#include "col/Surfaces.h"
