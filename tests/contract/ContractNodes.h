// Finding the test drivers' nodes through the seam, and small owners for what tests open.
#pragma once

#include <linux/media.h>
#include <linux/videodev2.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sensor/SystemCalls.h"
#include "sensor/UniqueFd.h"

namespace Quarvel {
namespace contract {

// A video node found by its driver name and buffer type.
struct VideoNode {
    std::string path;
    unsigned major = 0;
    unsigned minor = 0;
};

// The first "/dev/videoN" (N < 64) whose driver is `driver` and whose capability word offers
// capture of `bufferType` (single- or multi-planar); empty path when there is none.
VideoNode findVideoNode(SystemCalls& system, const std::string& driver, uint32_t bufferType);

// The first "/dev/mediaN" (N < 16) whose MEDIA_IOC_DEVICE_INFO names `driver`; empty if none.
std::string findMediaNode(SystemCalls& system, const std::string& driver);

// Every entity of the media node, enumerated with MEDIA_ENT_ID_FLAG_NEXT from id 0. The
// errno that ended the enumeration goes to *endError.
std::vector<media_entity_desc> enumerateEntities(SystemCalls& system, int mediaFd, int* endError);

// "/dev/v4l-subdevN" for an entity's device number, found through "/sys/dev/char"; empty
// when the link is missing or does not name a subdevice.
std::string subdevicePathOf(SystemCalls& system, uint32_t major, uint32_t minor);

// Opens `path` read-write through the seam.
UniqueFd openNode(SystemCalls& system, const std::string& path);

// ioctl through the seam: 0, or the errno of the failure.
int requestError(SystemCalls& system, int fd, unsigned long request, void* argument);

}  // namespace contract
}  // namespace Quarvel
