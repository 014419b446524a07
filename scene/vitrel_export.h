/* Symbol visibility for libvitrel_api.so: the library is built with hidden
 * visibility and only what carries VITREL_EXPORT is exported. Plain C. */
#ifndef VITREL_EXPORT_H
#define VITREL_EXPORT_H
#ifndef VITREL_EXPORT
#if defined(__GNUC__) || defined(__clang__)
#define VITREL_EXPORT __attribute__((visibility("default")))
#else
#define VITREL_EXPORT
#endif
#endif
#endif
