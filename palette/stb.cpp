// The one translation unit that holds stb's code. Its include directory is a
// system one, so the library's own warnings do not break a -Werror build.
// Only the in-memory reader and writer are used: files are opened and saved
// through files.h.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#include "stb_image.h"

#include <zlib.h>

#include <cstdlib>

namespace {

// zlib's deflate in place of stb's own, which is several times slower and
// compresses less (measured with the apply benchmark). The buffer is
// malloc'd, as stb frees it.
unsigned char* zlibCompress(const unsigned char* data, int length, int* compressedLength,
                            int level) {
    uLongf size = compressBound(static_cast<uLong>(length));
    auto* compressed = static_cast<unsigned char*>(std::malloc(size));
    if (compressed == nullptr) return nullptr;
    if (compress2(compressed, &size, data, static_cast<uLong>(length), level) != Z_OK) {
        std::free(compressed);
        return nullptr;
    }
    *compressedLength = static_cast<int>(size);
    return compressed;
}

}  // namespace

#define STBIW_ZLIB_COMPRESS zlibCompress
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include "stb_image_write.h"
