/* The public header compiles as C and the library links from C. */
#include <stdio.h>
#include <string.h>

#include "MK_Core.h"

int main(void) {
    Setts s;
    MK_SettsLoadDefaults(&s);
    if (s.recordSize != MK_SETTS_SIZE || strcmp(s.fontFace, "Arial") != 0) {
        fprintf(stderr, "defaults not loaded\n");
        return 1;
    }
    if (MK_IsSupportedFile("x.JPG") != 1 || MK_IsSupportedFile("x.png") != 0) {
        fprintf(stderr, "MK_IsSupportedFile\n");
        return 1;
    }
    printf("1 passed, 0 failed\n");
    return 0;
}
