/* The public header is plain C11: this file includes it, sizes the records
 * and calls the version queries through the shared library. */
#include "moxcodec.h"

#include <stdio.h>
#include <string.h>

int main(void)
{
    PictureInfo pic;
    SystemParam sys;
    DecodeParam param;
    EncodeParam eparam;
    memset(&pic, 0, sizeof pic);
    memset(&sys, 0, sizeof sys);
    memset(&param, 0, sizeof param);
    memset(&eparam, 0, sizeof eparam);
    const char *version = MoxGetVersion();
    if (strncmp(version, "MOXCODECLIB, Version 01.10.00\n", 30) != 0) {
        printf("have version \"%s\"\n", version);
        return 1;
    }
    if (strchr(version + 30, '\n') != NULL || MoxGetVersionNo() != 20070827.011) return 1;  /* two lines */
    if (MoxStatusText(MOX_ERR_CALLBACK)[0] == '\0') return 1;
    printf("1 passed, 0 failed\n");
    return 0;
}
