/* stb_image is compiled into the library and its stbi_* functions are
 * exported for hosts that decode images before handing texels over. */
#define STB_IMAGE_IMPLEMENTATION
#define STBIDEF extern __attribute__((visibility("default")))
#include <stb_image.h>
