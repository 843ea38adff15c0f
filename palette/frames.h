// Gray frames to colour: PNG (8- or 16-bit gray), binary PGM (P5, 8- or
// 16-bit) and raw little-endian 16-bit files of one or more frames. Every
// file is inspected first (header, size) without reading its pixels; its
// frames are then read one at a time, so memory does not grow with them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

enum class FrameFormat { png, pgm, raw };

// Width and height of the frames in raw files (--size WxH); 0 when not given.
struct FrameSize {
    int width = 0;
    int height = 0;
};

// What a frame file holds, from its header and its size.
struct FrameFile {
    std::string path;
    FrameFormat format = FrameFormat::png;
    int width = 0;
    int height = 0;
    int bitDepth = 8;  // 8 or 16
    long long frameCount = 1;
    std::uint64_t dataOffset = 0;  // where a PGM's or raw file's samples start
};

struct Frame {
    int width = 0;
    int height = 0;
    int bitDepth = 8;
    std::vector<std::uint16_t> values;  // rows top to bottom
};

// An open frame file, read frame after frame.
struct FrameReader {
    FrameFile file;
    std::FILE* handle = nullptr;
    long long framesRead = 0;
    std::vector<std::uint8_t> bytes;
};

// Reads "WxH" (both from 1 to 65,535); false with a one-line reason.
bool parseFrameSize(const std::string& text, FrameSize& size, std::string& error);

// True for a name that ends in .raw or .bin (any case): headerless frames.
bool isRawFrameName(const std::string& path);

// Checks a frame file's header, bit depth, colour type and size against
// rawSize, reading no pixels. False with a one-line reason naming the file.
bool inspectFrameFile(const std::string& path, const FrameSize& rawSize, FrameFile& file,
                      std::string& error);

bool openFrameReader(const FrameFile& file, FrameReader& reader, std::string& error);
// Reads the next of the file's frames; false with a one-line reason when the
// file turns out damaged or changed since it was inspected.
bool readNextFrame(FrameReader& reader, Frame& frame, std::string& error);
void closeFrameReader(FrameReader& reader);
