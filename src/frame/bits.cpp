// Bit reader and writer (implementation in progress).
#include "frame/bits.h"
