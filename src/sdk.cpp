#include "sdk.h"

#include "platform.h"

namespace {

const char* const sdkDirectory = "C:\\Project\\ZED160O\\IR_Camera_SDK-1.0.1\\windows\\windows\\app";

template <typename Function>
Function entryPoint(LibraryHandle library, const char* exportName) {
    return reinterpret_cast<Function>(resolveExport(library, exportName));
}

}  // namespace

bool loadSdk(SdkEntryPoints& sdk) {
    sdk = SdkEntryPoints{};
    addLibraryDirectory(sdkDirectory);
    // Both loads are always made; a library that did load stays loaded.
    sdk.thermalLibrary = loadLibrary("ThermalSDK.dll");
    sdk.coreLibrary = loadLibrary("CoreSDKLib.dll");
    if (sdk.thermalLibrary == nullptr || sdk.coreLibrary == nullptr) return false;

    sdk.Start = entryPoint<StartFunction>(sdk.thermalLibrary, "Start");
    sdk.Stop = entryPoint<StopFunction>(sdk.thermalLibrary, "Stop");
    sdk.SetNewIRFrameDelegate =
        entryPoint<SetNewIRFrameDelegateFunction>(sdk.thermalLibrary, "SetNewIRFrameDelegate");
    sdk.MAG_GetOutputBMPdata =
        entryPoint<GetOutputBMPdataFunction>(sdk.coreLibrary, "MAG_GetOutputBMPdata");
    sdk.MAG_GetOutputBMPdataRGB24 =
        entryPoint<GetOutputBMPdataRGB24Function>(sdk.coreLibrary, "MAG_GetOutputBMPdataRGB24");
    // A missing entry point would be a crash later, or a step silently left
    // out; either way the run can't be trusted, so it ends here.
    return sdk.Start != nullptr && sdk.Stop != nullptr && sdk.SetNewIRFrameDelegate != nullptr &&
           sdk.MAG_GetOutputBMPdata != nullptr && sdk.MAG_GetOutputBMPdataRGB24 != nullptr;
}

void onIR(const void*, std::int32_t, std::int32_t, std::int32_t) {}
