/* A C99 client of the shared library: the header compiles as C and the
 * exports are reachable by their plain C names. */
#include <stdio.h>
#include <string.h>

#include "zv.h"

int main(void) {
    char narrow[8];
    ZVWCHAR wide[8];
    int failures = 0;

    ZVFromAnsi(wide, "abc");
    ZVToAnsi(narrow, wide);
    if (strcmp(narrow, "abc") != 0) failures++;
    if (ZVInit() != 1) failures++;
    if (ZVHWEndian() != 2) failures++;
    if (ZVAlignSize(13) != 13) failures++;
    ZVDeInit();
    if (sizeof(ZVMutex) != 12 + sizeof(ZVHANDLE)) failures++;
    if (sizeof(ParsedURI) != 14 * sizeof(ZVWCHAR*)) failures++;
    if (failures) fprintf(stderr, "%d checks failed\n", failures);
    return failures ? 1 : 0;
}
