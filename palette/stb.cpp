// The one translation unit that holds stb's code. Its include directory is a
// system one, so the library's own warnings do not break a -Werror build.
// Only the in-memory writer is used: files are saved through files.h.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include "stb_image_write.h"
