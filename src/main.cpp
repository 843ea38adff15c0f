// palette-probe: starts the thermal camera through its SDK, finds the first
// channel whose gray-level output the SDK hands out, saves the live palette
// from it to official_palette_live.bin and stops the camera.
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform.h"
#include "sdk.h"

namespace {

const char* const paletteFileName = "official_palette_live.bin";
const std::size_t paletteOffset = 16;
const std::size_t paletteSize = 1024;
const int listedEntries = 12;
const unsigned waitAfterStartMilliseconds = 3000;
const std::int32_t lastChannel = 4;
const std::int32_t rgb24BufferSize = 57600;
const std::int32_t rgb24Flag = 1;

// Sixteen lower-case hex digits, zero-filled, whatever the platform's %p does.
void formatPointer(const void* pointer, char (&text)[17]) {
    std::uintptr_t value = reinterpret_cast<std::uintptr_t>(pointer);
    for (int digit = 15; digit >= 0; --digit) {
        text[digit] = "0123456789abcdef"[value & 0xF];
        value >>= 4;
    }
    text[16] = '\0';
}

// Saves the palette block of a gray frame and lists its first entries.
// Returns false when the file could not be saved.
bool capturePalette(const std::uint8_t* grayFrame) {
    const std::uint8_t* block = grayFrame + paletteOffset;
    // Replaced whole and durably, or left as it was; the reason for a
    // failure is not reported, the heading line says that it failed.
    std::string error;
    bool saved = saveFile(paletteFileName, block, paletteSize, error);
    if (saved)
        std::printf("saved %s (first entries):\n", paletteFileName);
    else
        std::printf("failed to save %s\n", paletteFileName);
    for (int entry = 0; entry < listedEntries; ++entry) {
        const std::uint8_t* bytes = block + static_cast<std::size_t>(4 * entry);
        std::printf("  %2d: %3u %3u %3u %3u\n", entry, unsigned{bytes[0]}, unsigned{bytes[1]},
                    unsigned{bytes[2]}, unsigned{bytes[3]});
    }
    return saved;
}

// Ends a run that Ctrl-C or a signal cut short: the camera is stopped, and
// nothing more is printed. Returns the exit status.
int stopOnInterrupt(const SdkEntryPoints& sdk) {
    sdk.Stop();
    return interruptedExitStatus();
}

}  // namespace

int main() {
    // Lost output is no reason to lose the palette or leave the camera on.
    ignoreClosedPipes();
    // Ctrl-C only sets a flag from here on, checked where the run can stop.
    watchForInterrupts();
    SdkEntryPoints sdk;
    if (!loadSdk(sdk)) return 1;
    if (interruptRequested()) return interruptedExitStatus();  // camera not used yet

    sdk.SetNewIRFrameDelegate(onIR);
    std::uint8_t started = sdk.Start();
    std::printf("Start=%u\n", unsigned{started});
    std::fflush(stdout);  // out before the pause, also on a pipe or a file
    sleepMilliseconds(waitAfterStartMilliseconds);

    std::int32_t answeringChannel = -1;
    std::uint8_t* grayFrame = nullptr;
    for (std::int32_t channel = 0; channel <= lastChannel && answeringChannel < 0; ++channel) {
        if (interruptRequested()) return stopOnInterrupt(sdk);
        std::int32_t info = 0;
        grayFrame = nullptr;
        std::int32_t result = sdk.MAG_GetOutputBMPdata(channel, &info, &grayFrame);
        char pointerText[17];
        formatPointer(grayFrame, pointerText);
        std::printf("chan %d gray rc=%d buf=%s\n", static_cast<int>(channel),
                    static_cast<int>(result), pointerText);
        if (result != 0 && grayFrame != nullptr) answeringChannel = channel;
    }

    // Before the save, so that an earlier palette stays as it was.
    if (interruptRequested()) return stopOnInterrupt(sdk);
    bool paletteSaved = true;
    if (answeringChannel >= 0) {
        paletteSaved = capturePalette(grayFrame);
        if (interruptRequested()) return stopOnInterrupt(sdk);
        // The SDK fills this buffer; nothing here reads it.
        std::uint8_t rgb24Buffer[rgb24BufferSize];
        std::int32_t result = sdk.MAG_GetOutputBMPdataRGB24(answeringChannel, rgb24Buffer,
                                                            rgb24BufferSize, rgb24Flag);
        std::printf("RGB24 rc=%d\n", static_cast<int>(result));
    }

    sdk.Stop();
    std::printf("done\n");
    return paletteSaved ? 0 : 1;
}
