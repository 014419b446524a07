/* A plain C99 host built against the installed header and library only. */
#include <stdio.h>
#include <vitrel_api.h>

int main(void) {
    VitrelContext* ctx = vitrel_create();
    if (!ctx) return 1;
    vitrel_set_output_size(ctx, 16, 16);
    vitrel_destroy(ctx);
    puts("host ok");
    return 0;
}
