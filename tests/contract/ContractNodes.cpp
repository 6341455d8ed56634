// Finding the test drivers' nodes through the seam.
#include "tests/contract/ContractNodes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstring>

namespace Quarvel {
namespace contract {

UniqueFd openNode(SystemCalls& system, const std::string& path) {
    return UniqueFd(system, system.open(path.c_str(), O_RDWR));
}

int requestError(SystemCalls& system, int fd, unsigned long request, void* argument) {
    errno = 0;
    if (system.ioctl(fd, request, argument) >= 0) return 0;
    return errno;
}

VideoNode findVideoNode(SystemCalls& system, const std::string& driver, uint32_t bufferType) {
    const uint32_t wanted = bufferType == V4L2_BUF_TYPE_VIDEO_CAPTURE_MPLANE
                                ? V4L2_CAP_VIDEO_CAPTURE_MPLANE
                                : V4L2_CAP_VIDEO_CAPTURE;
    for (int number = 0; number < 64; ++number) {
        const std::string path = "/dev/video" + std::to_string(number);
        UniqueFd fd = openNode(system, path);
        if (!fd.isValid()) continue;
        v4l2_capability capability{};
        if (system.ioctl(fd.get(), VIDIOC_QUERYCAP, &capability) != 0) continue;
        if (driver != reinterpret_cast<const char*>(capability.driver)) continue;
        if (!(capability.capabilities & wanted)) continue;
        struct stat status {};
        if (system.fstat(fd.get(), &status) != 0) continue;
        return {path, major(status.st_rdev), minor(status.st_rdev)};
    }
    return {};
}

std::string findMediaNode(SystemCalls& system, const std::string& driver) {
    for (int number = 0; number < 16; ++number) {
        const std::string path = "/dev/media" + std::to_string(number);
        UniqueFd fd = openNode(system, path);
        if (!fd.isValid()) continue;
        media_device_info info{};
        if (system.ioctl(fd.get(), MEDIA_IOC_DEVICE_INFO, &info) != 0) continue;
        if (driver == info.driver) return path;
    }
    return {};
}

std::vector<media_entity_desc> enumerateEntities(SystemCalls& system, int mediaFd, int* endError) {
    std::vector<media_entity_desc> entities;
    uint32_t id = 0;
    // A graph larger than this means the enumeration never ends.
    for (int guard = 0; guard < 1000; ++guard) {
        media_entity_desc entity{};
        entity.id = id | MEDIA_ENT_ID_FLAG_NEXT;
        errno = 0;
        if (system.ioctl(mediaFd, MEDIA_IOC_ENUM_ENTITIES, &entity) != 0) {
            *endError = errno;
            return entities;
        }
        entities.push_back(entity);
        id = entity.id;
    }
    *endError = 0;
    return entities;
}

std::string subdevicePathOf(SystemCalls& system, uint32_t major, uint32_t minor) {
    const std::string link = "/sys/dev/char/" + std::to_string(major) + ":" + std::to_string(minor);
    char target[256] = {};
    const ssize_t length = system.readlink(link.c_str(), target, sizeof target - 1);
    if (length <= 0) return {};
    const std::string text(target, static_cast<size_t>(length));
    const size_t slash = text.rfind('/');
    const std::string last = slash == std::string::npos ? text : text.substr(slash + 1);
    if (last.rfind("v4l-subdev", 0) != 0) return {};
    return "/dev/" + last;
}

}  // namespace contract
}  // namespace Quarvel
