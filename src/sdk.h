// Binding to the camera SDK: its two libraries, loaded at run time, and the
// five entry points the probe calls.
#pragma once

#include <cstdint>

#include "platform.h"

using StartFunction = std::uint8_t (*)();
using StopFunction = void (*)();
using FrameDelegate = void (*)(const void* frame, std::int32_t channel, std::int32_t width,
                               std::int32_t height);
using SetNewIRFrameDelegateFunction = void (*)(FrameDelegate delegate);
using GetOutputBMPdataFunction = std::int32_t (*)(std::int32_t channel, std::int32_t* info,
                                                  std::uint8_t** buffer);
using GetOutputBMPdataRGB24Function = std::int32_t (*)(std::int32_t channel,
                                                       std::uint8_t* destination, std::int32_t size,
                                                       std::int32_t flag);

struct SdkEntryPoints {
    LibraryHandle thermalLibrary;
    LibraryHandle coreLibrary;
    StartFunction Start;
    StopFunction Stop;
    SetNewIRFrameDelegateFunction SetNewIRFrameDelegate;
    GetOutputBMPdataFunction MAG_GetOutputBMPdata;
    GetOutputBMPdataRGB24Function MAG_GetOutputBMPdataRGB24;
};

// Loads both libraries and resolves all five entry points. False when a
// library won't load or an entry point is missing; nothing is called then.
bool loadSdk(SdkEntryPoints& sdk);

// The frame delegate handed to the SDK. It ignores every frame.
void onIR(const void* frame, std::int32_t channel, std::int32_t width, std::int32_t height);
