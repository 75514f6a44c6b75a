// Version queries.
#include "moxcodec.h"

extern "C" MOX_API const char* MoxGetVersion(void)
{
    return "MOXCODECLIB, Version 01.10.00\n"
           "Copyright (c) libmoxcodec developers. All rights reserved.";
}

extern "C" MOX_API double MoxGetVersionNo(void)
{
    return 20070827.011;
}
