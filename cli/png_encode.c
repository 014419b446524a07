/* PNG encoding through stb_image_write, kept private to this file (the glTF
 * loader brings a shared copy of stb along; the two must not meet). */
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

#include "cli/png_encode.h"

unsigned char* png_encode(const unsigned char* pixels, int width, int height, int channels, int* out_len) {
    return stbi_write_png_to_mem(pixels, width * channels, width, height, channels, out_len);
}
