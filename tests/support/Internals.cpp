#include "Internals.h"
