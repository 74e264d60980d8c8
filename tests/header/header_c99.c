/* The public header compiles as C99 and a C program can call the library. */
#include "Orvex.h"

#include <stdio.h>
#include <string.h>

int main(void) {
    const OrvexChar* version = Orvex_GetVersion();
    unsigned char* block;
    OrvexParameterList* list;
    int i;
    if (version == NULL || version[0] != '1') {
        fprintf(stderr, "unexpected version text\n");
        return 1;
    }
    block = (unsigned char*)Orvex_AllocateMemory(16);
    if (block == NULL) return 1;
    for (i = 0; i < 16; ++i) {
        if (block[i] != 0) return 1;
    }
    Orvex_FreeMemory(block);
    list = Orvex_Parameter_New();
    Orvex_Parameter_AddInteger(list, 7);
    if (Orvex_Parameter_Count(list) != 1 || Orvex_Parameter_GetInteger(list) != 7) return 1;
    Orvex_FreeMemory(list);
    return 0;
}
