/* Phase-processing library of the 640x480 sensor: raw phase frames in, depth planes out.
 *
 * Call order for one instance:
 *   SiSDKCreate -> { SiSDKInit -> [SiSDKSetCaliData] -> [SiSDKSetConfig] -> SiSDKStart ->
 *   SiSDKGetPhaseImage ... } (repeat the braces for every stream) -> SiSDKDestroy.
 *
 * Thread contract: SiSDKGetPhaseImage runs on one thread at a time per instance (the
 * capture thread). SiSDKIsSingleFreq and SiSDKSetSingleFreq are safe from any thread, also
 * while SiSDKGetPhaseImage runs. SiSDKInit, SiSDKSetCaliData, SiSDKSetConfig, SiSDKStart
 * and SiSDKDestroy must not run while SiSDKGetPhaseImage runs on the same instance.
 * Separate instances share nothing.
 *
 * Every function accepts a null handle and then fails (false / no effect).
 */
#ifndef SI4C_H
#define SI4C_H

#include <stdbool.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(SI4C_BUILDING_LIBRARY)
#define SI4C_API __attribute__((visibility("default")))
#else
#define SI4C_API
#endif

/* Opaque, pointer-sized handle of one library instance. */
typedef void* SiSDKHandle;

/* Creates an instance in single-frequency mode and stores its handle through `handle`.
 * True on success; on failure *handle is left null (when handle is not null). */
SI4C_API bool SiSDKCreate(SiSDKHandle* handle);

/* Sets the image geometry (width x height pixels, 1..4096 each) for the next
 * stream, drops any calibration and reloads the algorithm parameters from
 * "ConfigAlgorithm.json" in the current working directory (documented defaults for every
 * missing or malformed value). The frequency mode is kept. True on success. */
SI4C_API bool SiSDKInit(SiSDKHandle handle, int width, int height);

/* Hands over the content of a calibration file ("cali.bin", see si4c_calibration_format.h).
 * The bytes are validated and copied; the caller may release them after the call. A file
 * that does not match the format or the geometry given to SiSDKInit is ignored (false).
 * Never reads outside data[0 .. length). Takes effect at the next SiSDKStart. */
SI4C_API bool SiSDKSetCaliData(SiSDKHandle handle, const void* data, size_t length);

/* Overlays the algorithm parameters with "ConfigAlgorithm.json" from `directory`: keys
 * present there win, the rest keep their values. True when the file was read. Takes effect
 * at the next SiSDKStart. */
SI4C_API bool SiSDKSetConfig(SiSDKHandle handle, const char* directory);

/* Starts a stream: fixes the geometry, the frequency mode and the parameters until the
 * next SiSDKInit, and resets the temporal filters. True on success. */
SI4C_API bool SiSDKStart(SiSDKHandle handle);

/* Computes one frame. `raw` holds the whole raw frame of the started stream (layout in
 * si4c_raw_layout.h: width x (height + 1) x n samples of 2 bytes, n = 5 in single- and 10
 * in dual-frequency mode as fixed at SiSDKStart); depth (millimetres, 0 = invalid),
 * amplitude (sample units) and confidence (0..1) receive width x height floats each.
 * False, with the planes untouched, when the instance is not started, a pointer is null or
 * the frame's embedded lines do not match the stream's mode. */
SI4C_API bool SiSDKGetPhaseImage(SiSDKHandle handle, const void* raw, float* depth,
                                 float* amplitude, float* confidence);

/* Nonzero when the requested mode is single frequency (the default), zero for dual
 * frequency; 1 for a null handle. A change requested while streaming shows here at once
 * and reaches the frames at the next SiSDKStart. */
SI4C_API int SiSDKIsSingleFreq(SiSDKHandle handle);

/* Requests single (true) or dual (false) frequency for the next SiSDKStart. */
SI4C_API bool SiSDKSetSingleFreq(SiSDKHandle handle, bool singleFrequency);

/* Destroys the instance and nulls *handle. Harmless on a null pointer or null handle. */
SI4C_API void SiSDKDestroy(SiSDKHandle* handle);

#ifdef __cplusplus
}
#endif

#endif /* SI4C_H */
