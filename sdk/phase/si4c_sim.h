/* Test bench of the stand-in phase library: fault injection and instance counts.
 *
 * Only the stand-in libsi4c exports these; the vendor's library does not. Thread-safe.
 */
#ifndef SI4C_SIM_H
#define SI4C_SIM_H

#include <stdint.h>

#include "sdk/phase/si4c.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Makes the library function named `function` fail: of its calls from now on, the first
 * `skip` work as usual and the next `times` return false at once, doing nothing else
 * (SiSDKCreate leaves the handle null). Only functions that can report a failure take a
 * rule: SiSDKCreate, SiSDKInit, SiSDKSetCaliData, SiSDKSetConfig, SiSDKStart,
 * SiSDKGetPhaseImage and SiSDKSetSingleFreq. One rule per function; a new one replaces it.
 * 0, or -1 for any other name. */
SI4C_API int SiSimFailCall(const char* function, unsigned skip, unsigned times);
SI4C_API void SiSimClearFailures(void);
/* Calls of the named library function in this process so far, failed ones included. */
SI4C_API uint64_t SiSimCallCount(const char* function);
/* Instances created and not yet destroyed. */
SI4C_API int SiSimLiveInstances(void);

#ifdef __cplusplus
}
#endif

#endif /* SI4C_SIM_H */
