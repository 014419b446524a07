/* A plain C99 host: the public header compiles as C and the shared library
 * links and runs without any C++ on the host side. */
#include <stdio.h>
#include <string.h>

#include "api/vitrel_api.h"

static int failures = 0;

#define CHECK(cond)                                                  \
    do {                                                             \
        if (!(cond)) {                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__,   \
                    __LINE__, #cond);                                \
            ++failures;                                              \
        }                                                            \
    } while (0)

int main(void) {
    const float white[3] = {1.0f, 1.0f, 1.0f};
    const float black[3] = {0.0f, 0.0f, 0.0f};
    const float pos[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const unsigned int idx[3] = {0, 1, 2};
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    VitrelContext* ctx = vitrel_create();

    CHECK(ctx != NULL);
    CHECK(vitrel_is_prepared(ctx) == 0);
    CHECK(strcmp(vitrel_get_last_error(ctx), "") == 0);
    CHECK(vitrel_add_material(ctx, white, black, -1, -1, -1, -1, 0.5f, 0.0f, 0.0f, 1.5f, 0.5f,
                              0.0f, 0, 0, 0, 0, 0, 0, 0) == 0);
    CHECK(vitrel_add_mesh(ctx, pos, 3, idx, 1, NULL, NULL, NULL, NULL, 0) == 0);
    CHECK(vitrel_add_instance(ctx, 0, 0, identity) == 0);
    CHECK(vitrel_add_instance(ctx, 0, 1, identity) == -1);
    vitrel_set_grade(ctx, "filmic");
    vitrel_scene_clear(ctx);
    CHECK(vitrel_add_instance(ctx, 0, 0, identity) == -1);
    vitrel_destroy(ctx);
    vitrel_destroy(NULL);
    CHECK(vitrel_get_total_samples(NULL) == 0);

    if (failures) return 1;
    printf("c_api_test: ok\n");
    return 0;
}
