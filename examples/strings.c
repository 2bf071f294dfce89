/* strings.c - narrow and wide strings, numbers, and the library's fixed
 * conversion between the two widths.  Plain C99: without u"" literals, wide
 * text is made by widening narrow text. */
#include <stdio.h>

#include "zv.h"

/* Narrows wide text for printing: one byte per unit.  The text must have
 * fewer than 128 units to fit. */
static void PrintWide(const char* label, const ZVWCHAR* text) {
    char narrow[128];
    ZVToAnsi(narrow, text);
    printf("%s: %s\n", label, narrow);
}

static int Strings(void) {
    const char* greeting = "hello, world";
    /* A wide copy on the heap: room for the length plus the terminator. */
    ZVWCHAR* wide = ZVMalloc((ZVStrLenA(greeting) + 1) * sizeof(ZVWCHAR));
    if (!wide) return 1;
    ZVFromAnsi(wide, greeting);
    printf("length: %u\n", (unsigned)ZVStrLenW(wide));
    PrintWide("upper", ZVStrUprW(wide));

    /* Every destination is sized by the caller for the result and its
     * terminator; nothing checks it. */
    ZVWCHAR joined[32];
    ZVWCHAR suffix[4];
    ZVFromAnsi(suffix, "!");
    ZVStrCpyW(joined, wide);
    ZVStrCatW(joined, suffix);
    PrintWide("joined", joined);
    ZVFree(wide);
    return 0;
}

static void Tokens(void) {
    /* The tokeniser keeps its place in the caller's variable and cuts the
     * string in place; empty fields are skipped. */
    char list[] = "red,,green,blue";
    char* position = NULL;
    char* token;
    for (token = ZVStrTokA(list, ",", &position); token; token = ZVStrTokA(NULL, ",", &position))
        printf("token: %s\n", token);
}

static void Numbers(void) {
    char digits[33]; /* radix 2 needs 32 digits and the terminator */
    printf("ZVStrToULA: 0x1F=%u 017=%u -1=%u\n", (unsigned)ZVStrToULA("0x1F"),
           (unsigned)ZVStrToULA("017"), (unsigned)ZVStrToULA("-1"));
    printf("ZVStrToIA: \" -42x\"=%d\n", (int)ZVStrToIA(" -42x"));
    printf("ZVLToStrA: -1 in radix 10=%s", ZVLToStrA(-1, digits, 10));
    printf(", in radix 16=%s", ZVLToStrA(-1, digits, 16));
    printf(", 5 in radix 2=%s\n", ZVLToStrA(5, digits, 2));
}

static void Comparisons(void) {
    /* Only 'A'-'Z' fold; characters compare as signed bytes, so 0xE9 sorts
     * before 'a'. */
    printf("ZVStrICmpA(Key, KEY)=%d\n", (int)ZVStrICmpA("Key", "KEY"));
    printf("ZVStrICmpA(ABC, abd)=%d\n", (int)ZVStrICmpA("ABC", "abd"));
    printf("ZVStrICmpA(\\xE9, a)=%d\n", (int)ZVStrICmpA("\xE9", "a"));
    printf("ZVStrCmpA(\\xE9, a)=%d\n", (int)ZVStrCmpA("\xE9", "a"));
}

static void Conversion(void) {
    /* Widening sign-extends each byte; narrowing keeps each unit's low byte,
     * so narrow text survives the round trip. */
    const char latin[] = "caf\xE9";
    ZVWCHAR wide[8];
    char back[8];
    ZVFromAnsi(wide, latin);
    printf("widened: %04X %04X %04X %04X\n", wide[0], wide[1], wide[2], wide[3]);
    ZVToAnsi(back, wide);
    printf("round trip: %s\n", ZVStrCmpA(back, latin) == 0 ? "same bytes" : "changed");
}

int main(void) {
    if (Strings() != 0) return 1;
    Tokens();
    Numbers();
    Comparisons();
    Conversion();
    return 0;
}
