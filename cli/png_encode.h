/* PNG encoding of packed 8-bit pixels. */
#ifndef VITREL_CLI_PNG_ENCODE_H
#define VITREL_CLI_PNG_ENCODE_H
#ifdef __cplusplus
extern "C" {
#endif

/* Encodes width x height pixels of `channels` (1 to 4) bytes each, rows top
 * to bottom. Returns a malloc'ed PNG file image of *out_len bytes (release
 * it with free()), or NULL. */
unsigned char* png_encode(const unsigned char* pixels, int width, int height, int channels, int* out_len);

#ifdef __cplusplus
}
#endif
#endif
