// Files of the palette commands: names in UTF-8 on every platform, inputs
// opened through the platform layer, outputs saved through its one save path.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct OutputFile {
    std::string path;
    std::vector<std::uint8_t> bytes;
};

// The C library's text for an errno value.
std::string systemMessage(int errorNumber);

// Opens a file for reading; null with "cannot open '<path>': <reason>".
std::FILE* openForReading(const std::string& path, std::string& error);

bool isDirectory(const std::string& path);
// The size in bytes of a file; false with "cannot read '<path>': <reason>".
bool fileSize(const std::string& path, std::uint64_t& size, std::string& error);
bool exists(const std::string& path);
// True when both names lead to one file (hard links and links included).
bool sameFile(const std::string& first, const std::string& second);

// The file name without its folder and its last extension.
std::string fileStem(const std::string& path);
// The name with A to Z made lower case, for comparing names as Windows does
// (other letters are left as they are).
std::string asciiLowerCase(std::string name);
// directory/name; just name when the directory is empty.
std::string joinPath(const std::string& directory, const std::string& name);

// Checks that --out-dir names an existing directory; empty means the
// working directory. False with a one-line reason.
bool checkOutputDirectory(const std::string& directory, std::string& error);

// The first output that is one of the inputs under its own or another name:
// writing it would destroy that input. False when there is none.
bool outputOverwritesInput(const std::vector<std::string>& outputs,
                           const std::vector<std::string>& inputs, std::string& error);

// Saves every output whole: all are written and made durable under
// temporary names before the first is moved into place, so a failure while
// writing leaves every earlier file as it was.
bool saveOutputs(const std::vector<OutputFile>& outputs, std::string& error);
