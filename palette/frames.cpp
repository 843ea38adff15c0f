#include "frames.h"

#include <cerrno>
#include <cstring>

#include "files.h"

#define STBI_NO_STDIO
#include "stb_image.h"

namespace {

const int largestSide = 65535;
// stb takes the encoded PNG as an int-sized buffer.
const std::uint64_t largestPngFile = std::uint64_t{1} << 30;
const std::size_t pngHeaderSize = 33;  // signature, IHDR length, tag, body, CRC
const std::uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
const std::size_t pgmHeaderLimit = 4096;

std::string quoted(const std::string& path) {
    return "'" + path + "'";
}

std::uint32_t bigEndian32(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

// Reads up to size bytes from the start of a file; false when it can't be
// opened or read (a directory included).
bool readStart(const std::string& path, std::size_t size, std::vector<std::uint8_t>& bytes,
               std::string& error) {
    std::FILE* file = openForReading(path, error);
    if (file == nullptr) return false;
    bytes.resize(size);
    std::size_t length = std::fread(bytes.data(), 1, size, file);
    bool failed = std::ferror(file) != 0;
    int readError = errno;
    std::fclose(file);
    if (failed) {
        error = "cannot read " + quoted(path) + ": " + systemMessage(readError);
        return false;
    }
    bytes.resize(length);
    return true;
}

bool inspectPng(const std::vector<std::uint8_t>& start, FrameFile& file, std::string& error) {
    if (start.size() < pngHeaderSize || bigEndian32(&start[8]) != 13 ||
        std::memcmp(&start[12], "IHDR", 4) != 0) {
        error = quoted(file.path) + " is not a whole PNG (no image header)";
        return false;
    }
    std::uint32_t width = bigEndian32(&start[16]);
    std::uint32_t height = bigEndian32(&start[20]);
    int depth = start[24];
    int colourType = start[25];
    if (colourType == 2 || colourType == 6) {
        error = quoted(file.path) + " is a colour PNG; only gray frames are read";
        return false;
    }
    if (colourType == 3) {
        error = quoted(file.path) + " is a palette (indexed-colour) PNG; only gray frames are read";
        return false;
    }
    if (colourType == 4) {
        error = quoted(file.path) + " is a gray PNG with alpha; only plain gray frames are read";
        return false;
    }
    if (colourType != 0) {
        error = quoted(file.path) + " is not a valid PNG (colour type " +
                std::to_string(colourType) + ")";
        return false;
    }
    if (depth != 8 && depth != 16) {
        error = quoted(file.path) + " is a " + std::to_string(depth) +
                "-bit gray PNG; only 8- and 16-bit frames are read";
        return false;
    }
    if (width == 0 || height == 0 || width > largestSide || height > largestSide) {
        error = quoted(file.path) + " is " + std::to_string(width) + "x" + std::to_string(height) +
                " pixels; frames of 1 to 65535 a side are read";
        return false;
    }
    std::uint64_t size = 0;
    if (!fileSize(file.path, size, error)) return false;
    if (size > largestPngFile) {
        error = quoted(file.path) + " is larger than 1 GiB";
        return false;
    }
    file.format = FrameFormat::png;
    file.width = static_cast<int>(width);
    file.height = static_cast<int>(height);
    file.bitDepth = depth;
    return true;
}

bool isPgmSpace(std::uint8_t byte) {
    return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r' || byte == '\v' ||
           byte == '\f';
}

// Skips white space and # comments, then reads a decimal number. False when
// there is none, or it is larger than largest.
bool readPgmNumber(const std::vector<std::uint8_t>& bytes, std::size_t& position, long largest,
                   long& number) {
    while (position < bytes.size()) {
        if (isPgmSpace(bytes[position])) {
            ++position;
        } else if (bytes[position] == '#') {
            while (position < bytes.size() && bytes[position] != '\n' && bytes[position] != '\r')
                ++position;
        } else {
            break;
        }
    }
    std::size_t first = position;
    number = 0;
    while (position < bytes.size() && bytes[position] >= '0' && bytes[position] <= '9') {
        number = number * 10 + (bytes[position] - '0');
        if (number > largest) return false;
        ++position;
    }
    return position > first;
}

bool inspectPgm(const std::vector<std::uint8_t>& start, FrameFile& file, std::string& error) {
    if (start[1] != '5') {
        error = quoted(file.path) + " is a P" + static_cast<char>(start[1]) +
                " netpbm file; only binary PGM (P5) is read";
        return false;
    }
    std::size_t position = 2;
    long width = 0;
    long height = 0;
    long largestValue = 0;
    bool valid = position < start.size() && isPgmSpace(start[position]) &&
                 readPgmNumber(start, position, largestSide, width) &&
                 readPgmNumber(start, position, largestSide, height) &&
                 readPgmNumber(start, position, 65535, largestValue) && position < start.size() &&
                 isPgmSpace(start[position]);
    if (!valid || width == 0 || height == 0 || largestValue == 0) {
        error = quoted(file.path) +
                " has no valid PGM header (width and height 1 to 65535, maximum value 1 to 65535)";
        return false;
    }
    file.format = FrameFormat::pgm;
    file.width = static_cast<int>(width);
    file.height = static_cast<int>(height);
    file.bitDepth = largestValue > 255 ? 16 : 8;
    const std::uint64_t samples =
        std::uint64_t{static_cast<std::uint32_t>(width)} * static_cast<std::uint32_t>(height);
    const std::uint64_t expected =
        position + 1 + samples * static_cast<unsigned>(file.bitDepth / 8);
    file.dataOffset = position + 1;
    std::uint64_t size = 0;
    if (!fileSize(file.path, size, error)) return false;
    if (size != expected) {
        error = quoted(file.path) + " is " + std::to_string(size) + " bytes; its header (" +
                std::to_string(width) + "x" + std::to_string(height) + ", " +
                std::to_string(file.bitDepth) + "-bit) needs " + std::to_string(expected);
        return false;
    }
    return true;
}

bool inspectRaw(const FrameSize& rawSize, FrameFile& file, std::string& error) {
    if (rawSize.width == 0) {
        error = quoted(file.path) + " is a raw file: give its frame size with --size WxH";
        return false;
    }
    std::uint64_t size = 0;
    if (!fileSize(file.path, size, error)) return false;
    std::uint64_t frameBytes = std::uint64_t{static_cast<std::uint32_t>(rawSize.width)} *
                               static_cast<std::uint32_t>(rawSize.height) * 2;
    if (size == 0 || size % frameBytes != 0) {
        error = quoted(file.path) + " is " + std::to_string(size) +
                " bytes, not a whole number of " + std::to_string(rawSize.width) + "x" +
                std::to_string(rawSize.height) + " 16-bit frames (" + std::to_string(frameBytes) +
                " bytes each)";
        return false;
    }
    file.format = FrameFormat::raw;
    file.width = rawSize.width;
    file.height = rawSize.height;
    file.bitDepth = 16;
    file.frameCount = static_cast<long long>(size / frameBytes);
    return true;
}

bool readWholeFile(FrameReader& reader, std::string& error) {
    const std::size_t chunk = 1 << 16;
    reader.bytes.clear();
    for (;;) {
        std::size_t used = reader.bytes.size();
        reader.bytes.resize(used + chunk);
        std::size_t length = std::fread(reader.bytes.data() + used, 1, chunk, reader.handle);
        reader.bytes.resize(used + length);
        if (length < chunk) break;
        if (reader.bytes.size() > largestPngFile) {
            error = quoted(reader.file.path) + " is larger than 1 GiB";
            return false;
        }
    }
    if (std::ferror(reader.handle) != 0) {
        error = "cannot read " + quoted(reader.file.path) + ": " + systemMessage(errno);
        return false;
    }
    return true;
}

bool decodePng(FrameReader& reader, Frame& frame, std::string& error) {
    if (!readWholeFile(reader, error)) return false;
    int width = 0;
    int height = 0;
    int channels = 0;
    const auto length = static_cast<int>(reader.bytes.size());
    void* pixels = reader.file.bitDepth == 16
                       ? static_cast<void*>(stbi_load_16_from_memory(reader.bytes.data(), length,
                                                                     &width, &height, &channels, 1))
                       : static_cast<void*>(stbi_load_from_memory(reader.bytes.data(), length,
                                                                  &width, &height, &channels, 1));
    if (pixels == nullptr) {
        error = "cannot decode " + quoted(reader.file.path) + ": " + stbi_failure_reason();
        return false;
    }
    bool sameSize = width == reader.file.width && height == reader.file.height;
    if (sameSize) {
        std::size_t count = frame.values.size();
        if (reader.file.bitDepth == 16) {
            std::memcpy(frame.values.data(), pixels, count * sizeof(std::uint16_t));
        } else {
            const auto* bytes = static_cast<const std::uint8_t*>(pixels);
            for (std::size_t index = 0; index < count; ++index)
                frame.values[index] = bytes[index];
        }
    }
    stbi_image_free(pixels);
    if (!sameSize) error = quoted(reader.file.path) + " changed since it was checked";
    return sameSize;
}

bool readSamples(FrameReader& reader, Frame& frame, std::string& error) {
    std::size_t count = frame.values.size();
    std::size_t sampleSize = reader.file.bitDepth / 8;
    reader.bytes.resize(count * sampleSize);
    std::size_t length = std::fread(reader.bytes.data(), 1, reader.bytes.size(), reader.handle);
    if (length != reader.bytes.size()) {
        error = std::ferror(reader.handle) != 0
                    ? "cannot read " + quoted(reader.file.path) + ": " + systemMessage(errno)
                    : quoted(reader.file.path) + " ended early: it changed since it was checked";
        return false;
    }
    const std::uint8_t* bytes = reader.bytes.data();
    if (sampleSize == 1) {
        for (std::size_t index = 0; index < count; ++index)
            frame.values[index] = bytes[index];
    } else if (reader.file.format == FrameFormat::raw) {
        for (std::size_t index = 0; index < count; ++index)
            frame.values[index] =
                static_cast<std::uint16_t>(bytes[2 * index] | (bytes[2 * index + 1] << 8));
    } else {
        // PGM samples wider than a byte are big-endian.
        for (std::size_t index = 0; index < count; ++index)
            frame.values[index] =
                static_cast<std::uint16_t>((bytes[2 * index] << 8) | bytes[2 * index + 1]);
    }
    return true;
}

}  // namespace

bool parseFrameSize(const std::string& text, FrameSize& size, std::string& error) {
    std::size_t cross = text.find_first_of("xX");
    long sides[2] = {0, 0};
    bool valid = cross != std::string::npos && cross > 0 && cross + 1 < text.size();
    for (int side = 0; valid && side < 2; ++side) {
        std::string digits = side == 0 ? text.substr(0, cross) : text.substr(cross + 1);
        for (char digit : digits) {
            valid = valid && digit >= '0' && digit <= '9' && sides[side] <= largestSide;
            if (valid) sides[side] = sides[side] * 10 + (digit - '0');
        }
        valid = valid && sides[side] >= 1 && sides[side] <= largestSide;
    }
    if (!valid) {
        error = "--size '" + text + "': give WxH, each from 1 to 65535 (e.g. 640x512)";
        return false;
    }
    size.width = static_cast<int>(sides[0]);
    size.height = static_cast<int>(sides[1]);
    return true;
}

bool isRawFrameName(const std::string& path) {
    if (path.size() < 4) return false;
    std::string suffix = asciiLowerCase(path.substr(path.size() - 4));
    return suffix == ".raw" || suffix == ".bin";
}

bool inspectFrameFile(const std::string& path, const FrameSize& rawSize, FrameFile& file,
                      std::string& error) {
    file = FrameFile();
    file.path = path;
    bool raw = isRawFrameName(path);
    std::vector<std::uint8_t> start;
    if (!readStart(path, raw ? 0 : pgmHeaderLimit, start, error)) return false;
    if (raw) return inspectRaw(rawSize, file, error);
    bool png = start.size() >= sizeof pngSignature &&
               std::memcmp(start.data(), pngSignature, sizeof pngSignature) == 0;
    bool netpbm = start.size() >= 2 && start[0] == 'P' && start[1] >= '1' && start[1] <= '7';
    if (!png && !netpbm) {
        error = quoted(path) +
                " is neither a PNG nor a PGM (raw frames need a .raw or .bin name and --size)";
        return false;
    }
    if (rawSize.width != 0) {
        error = "--size is for raw frames only, and " + quoted(path) + " is a " +
                (png ? "PNG" : "netpbm file");
        return false;
    }
    return png ? inspectPng(start, file, error) : inspectPgm(start, file, error);
}

bool openFrameReader(const FrameFile& file, FrameReader& reader, std::string& error) {
    reader.file = file;
    reader.framesRead = 0;
    reader.handle = openForReading(file.path, error);
    if (reader.handle == nullptr) return false;
    reader.bytes.resize(static_cast<std::size_t>(file.dataOffset));
    if (std::fread(reader.bytes.data(), 1, reader.bytes.size(), reader.handle) !=
        reader.bytes.size()) {
        error = quoted(file.path) + " ended early: it changed since it was checked";
        closeFrameReader(reader);
        return false;
    }
    return true;
}

bool readNextFrame(FrameReader& reader, Frame& frame, std::string& error) {
    frame.width = reader.file.width;
    frame.height = reader.file.height;
    frame.bitDepth = reader.file.bitDepth;
    frame.values.resize(static_cast<std::size_t>(frame.width) *
                        static_cast<std::size_t>(frame.height));
    bool read = reader.file.format == FrameFormat::png ? decodePng(reader, frame, error)
                                                       : readSamples(reader, frame, error);
    if (read) ++reader.framesRead;
    return read;
}

void closeFrameReader(FrameReader& reader) {
    if (reader.handle != nullptr) std::fclose(reader.handle);
    reader.handle = nullptr;
}
