#include "files.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform.h"

namespace fs = std::filesystem;

namespace {

// UTF-8 in, the platform's own path out (UTF-16 on Windows).
fs::path nativePath(const std::string& path) {
    return fs::u8path(path);
}

}  // namespace

std::string systemMessage(int errorNumber) {
    return std::error_code(errorNumber, std::generic_category()).message();
}

std::FILE* openForReading(const std::string& path, std::string& error) {
    std::FILE* file = openFileForReading(path);
    if (file == nullptr) error = "cannot open '" + path + "': " + systemMessage(errno);
    return file;
}

bool isDirectory(const std::string& path) {
    std::error_code failure;
    return fs::is_directory(nativePath(path), failure);
}

bool fileSize(const std::string& path, std::uint64_t& size, std::string& error) {
    std::error_code failure;
    size = fs::file_size(nativePath(path), failure);
    if (failure) error = "cannot read '" + path + "': " + failure.message();
    return !failure;
}

bool exists(const std::string& path) {
    std::error_code failure;
    return fs::exists(nativePath(path), failure);
}

bool sameFile(const std::string& first, const std::string& second) {
    std::error_code failure;
    return fs::equivalent(nativePath(first), nativePath(second), failure);
}

std::string fileStem(const std::string& path) {
    return nativePath(path).stem().u8string();
}

std::string asciiLowerCase(std::string name) {
    for (char& letter : name)
        if (letter >= 'A' && letter <= 'Z') letter = static_cast<char>(letter - 'A' + 'a');
    return name;
}

std::string joinPath(const std::string& directory, const std::string& name) {
    if (directory.empty()) return name;
    return (nativePath(directory) / nativePath(name)).u8string();
}

bool checkOutputDirectory(const std::string& directory, std::string& error) {
    if (directory.empty() || isDirectory(directory)) return true;
    error = "output directory '" + directory +
            (exists(directory) ? "' is not a directory" : "' does not exist");
    return false;
}

bool outputOverwritesInput(const std::vector<std::string>& outputs,
                           const std::vector<std::string>& inputs, std::string& error) {
    for (const std::string& output : outputs) {
        for (const std::string& input : inputs) {
            if (sameFile(input, output)) {
                error = "'" + output + "' would overwrite the input '";
                error += input + "'";
                return true;
            }
        }
    }
    return false;
}

bool saveOutputs(const std::vector<OutputFile>& outputs, std::string& error) {
    std::vector<StagedFile> staged(outputs.size());
    for (std::size_t index = 0; index < outputs.size(); ++index) {
        const OutputFile& output = outputs[index];
        if (!stageFile(output.path, output.bytes.data(), output.bytes.size(), staged[index],
                       error)) {
            for (std::size_t earlier = 0; earlier < index; ++earlier)
                discardStagedFile(staged[earlier]);
            return false;
        }
    }
    for (std::size_t index = 0; index < staged.size(); ++index) {
        if (!commitStagedFile(staged[index], error)) {
            for (std::size_t later = index + 1; later < staged.size(); ++later)
                discardStagedFile(staged[later]);
            return false;
        }
    }
    return true;
}
