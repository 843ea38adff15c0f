// CoreSDKLib.dll of the simulated camera: the gray-level bitmap output,
// whose frame carries the live palette, and the RGB24 output.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "sim.h"

namespace {

const std::int32_t channelCount = 5;
const std::size_t headerSize = 16;
const std::size_t paletteSize = 1024;
const std::int32_t frameWidth = 160;
const std::int32_t frameHeight = 120;
const std::int32_t rgb24Size = frameWidth * frameHeight * 3;
const std::int32_t rgb24Flag = 1;
// Left in the slots by a query that does not answer, when asked to.
const std::int32_t garbageInfo = 0x5A5A5A5A;
const std::uintptr_t garbagePointer = static_cast<std::uintptr_t>(0xDEADBEEFCAFEF00DULL);

struct ChannelBehaviour {
    std::int32_t result;
    bool handsOutFrame;
};

// The frame handed out last; revoked at the next call into this library,
// since a client may read it only until then.
std::uint8_t* lastFrame = nullptr;
std::size_t lastFrameBytes = 0;
std::int32_t answeredChannel = -1;
int rgb24Calls = 0;

// SIMSDK_CHANNEL_<n> is "<result>,frame" or "<result>,null". By default
// channel 1 answers and the others do not.
ChannelBehaviour channelBehaviour(std::int32_t channel) {
    ChannelBehaviour behaviour{channel == 1 ? 1 : 0, channel == 1};
    char name[32];
    std::snprintf(name, sizeof name, "CHANNEL_%d", static_cast<int>(channel));
    std::string text = settingText(name, "");
    std::size_t comma = text.find(',');
    if (comma != std::string::npos) {
        behaviour.result = static_cast<std::int32_t>(std::strtoll(text.c_str(), nullptr, 0));
        behaviour.handsOutFrame = text.compare(comma + 1, std::string::npos, "frame") == 0;
    }
    return behaviour;
}

// SIMSDK_RAISE_IN_QUERY is "<channel>,<signal number>": the query of that
// channel raises the signal in the calling thread, as a Ctrl-C or kill
// landing while the client is inside the call would.
void raiseIfAsked(std::int32_t channel) {
    std::string text = settingText("RAISE_IN_QUERY", "");
    std::size_t comma = text.find(',');
    if (comma == std::string::npos) return;
    if (std::strtoll(text.c_str(), nullptr, 0) != channel) return;
    auto signalNumber = static_cast<int>(std::strtoll(text.c_str() + comma + 1, nullptr, 0));
    raiseSignal(signalNumber);
}

std::uint8_t ramp(double from, double to, double position) {
    return static_cast<std::uint8_t>(std::lround(from + (to - from) * position));
}

// A smooth false-colour scale, black through purple, red and yellow to
// white, as blue, green, red and a zero fourth byte per entry.
void fillFalseColourPalette(std::uint8_t* palette) {
    static const double stops[][3] = {{0, 0, 0},     {32, 0, 140},  {160, 0, 160},
                                      {230, 70, 20}, {255, 180, 0}, {255, 255, 255}};
    for (int entry = 0; entry < 256; ++entry) {
        double scaled = entry / 255.0 * 5.0;
        int segment = scaled >= 5.0 ? 4 : static_cast<int>(scaled);
        double position = scaled - segment;
        const double* from = stops[segment];
        const double* to = stops[segment + 1];
        palette[4 * entry + 0] = ramp(from[2], to[2], position);
        palette[4 * entry + 1] = ramp(from[1], to[1], position);
        palette[4 * entry + 2] = ramp(from[0], to[0], position);
        palette[4 * entry + 3] = 0;
    }
}

// SIMSDK_PALETTE "hex:<bytes>" repeats the given bytes over the block.
void fillPalette(std::uint8_t* palette) {
    std::string text = settingText("PALETTE", "");
    if (text.compare(0, 4, "hex:") != 0 || text.size() < 6) {
        fillFalseColourPalette(palette);
        return;
    }
    std::string digits = text.substr(4);
    std::size_t count = digits.size() / 2;
    for (std::size_t index = 0; index < paletteSize; ++index) {
        std::string pair = digits.substr(2 * (index % count), 2);
        palette[index] = static_cast<std::uint8_t>(std::strtoul(pair.c_str(), nullptr, 16));
    }
}

// A frame in pages of its own: header, palette block and (unless
// SIMSDK_FRAME=tight) pixel data, ending right where an inaccessible page
// begins, and read-only once filled.
std::uint8_t* newFrame(std::int32_t channel) {
    bool tight = settingText("FRAME", "") == "tight";
    std::size_t bytes =
        headerSize + paletteSize + (tight ? 0 : static_cast<std::size_t>(frameWidth * frameHeight));
    std::size_t pages = (bytes + pageSize() - 1) / pageSize();
    std::uint8_t* base = allocateGuardedPages(pages);
    if (base == nullptr) return nullptr;
    std::uint8_t* frame = base + pages * pageSize() - bytes;
    for (std::size_t index = 0; index < headerSize; ++index)
        frame[index] = static_cast<std::uint8_t>(0xE0 + index);
    frame[0] = static_cast<std::uint8_t>(channel);
    fillPalette(frame + headerSize);
    for (std::size_t index = headerSize + paletteSize; index < bytes; ++index)
        frame[index] = static_cast<std::uint8_t>(index * 7);
    makeReadOnly(base, pages * pageSize());
    lastFrame = base;
    lastFrameBytes = pages * pageSize();
    return frame;
}

void revokeLastFrame() {
    if (lastFrame != nullptr) makeInaccessible(lastFrame, lastFrameBytes);
    lastFrame = nullptr;
}

unsigned long long pointerValue(const void* pointer) {
    return static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(pointer));
}

}  // namespace

void onLibraryLoaded() {
    logLine("loaded CoreSDKLib.dll");
}

void onLibraryUnloading() {
    logLine("unloaded CoreSDKLib.dll");
}

extern "C" SIMSDK_EXPORT std::int32_t MAG_GetOutputBMPdata(std::int32_t channel, std::int32_t* info,
                                                           std::uint8_t** buffer) {
    revokeLastFrame();
    if (info == nullptr || buffer == nullptr) {
        logLine("MAG_GetOutputBMPdata channel=%d slots=missing result=0",
                static_cast<int>(channel));
        logLine("BREACH MAG_GetOutputBMPdata given a null slot address");
        return 0;
    }
    std::int32_t infoOnEntry = *info;
    const void* bufferOnEntry = *buffer;
    ChannelBehaviour behaviour{0, false};
    if (channel >= 0 && channel < channelCount) behaviour = channelBehaviour(channel);
    *buffer = behaviour.handsOutFrame ? newFrame(channel) : nullptr;
    *info = *buffer != nullptr ? frameWidth * frameHeight : 0;
    bool answered = behaviour.result != 0 && *buffer != nullptr;
    if (answered) answeredChannel = channel;
    if (!answered && settingNumber("SLOT_GARBAGE", 0) != 0) {
        *info = garbageInfo;
        if (*buffer == nullptr && behaviour.result == 0)
            *buffer = reinterpret_cast<std::uint8_t*>(  // NOLINT(performance-no-int-to-ptr)
                garbagePointer);
    }
    logLine("MAG_GetOutputBMPdata channel=%d info-in=%d buf-in=%016llx result=%d buf=%016llx",
            static_cast<int>(channel), static_cast<int>(infoOnEntry), pointerValue(bufferOnEntry),
            static_cast<int>(behaviour.result), pointerValue(*buffer));
    if (infoOnEntry != 0 || bufferOnEntry != nullptr)
        logLine("BREACH MAG_GetOutputBMPdata slots not reset before the call");
    if (channel < 0 || channel >= channelCount)
        logLine("BREACH MAG_GetOutputBMPdata channel %d out of range", static_cast<int>(channel));
    raiseIfAsked(channel);
    return behaviour.result;
}

extern "C" SIMSDK_EXPORT std::int32_t MAG_GetOutputBMPdataRGB24(std::int32_t channel,
                                                                std::uint8_t* destination,
                                                                std::int32_t size,
                                                                std::int32_t flag) {
    revokeLastFrame();
    auto result = static_cast<std::int32_t>(settingNumber("RGB24_RESULT", 1));
    logLine("MAG_GetOutputBMPdataRGB24 channel=%d size=%d flag=%d result=%d",
            static_cast<int>(channel), static_cast<int>(size), static_cast<int>(flag),
            static_cast<int>(result));
    if (++rgb24Calls > 1) logLine("BREACH MAG_GetOutputBMPdataRGB24 called %d times", rgb24Calls);
    if (channel != answeredChannel)
        logLine("BREACH MAG_GetOutputBMPdataRGB24 for channel %d, which did not answer",
                static_cast<int>(channel));
    if (size != rgb24Size || flag != rgb24Flag)
        logLine("BREACH MAG_GetOutputBMPdataRGB24 expects size %d and flag %d",
                static_cast<int>(rgb24Size), static_cast<int>(rgb24Flag));
    if (destination == nullptr) {
        logLine("BREACH MAG_GetOutputBMPdataRGB24 given a null destination");
        return result;
    }
    // Exactly the size given: a client whose buffer is smaller is caught.
    for (std::int32_t index = 0; index < size; ++index)
        destination[index] = static_cast<std::uint8_t>(index % 3 == 0 ? index / 225 : index);
    return result;
}
