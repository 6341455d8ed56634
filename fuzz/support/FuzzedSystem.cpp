// The fuzz kernel's answers, following the kernel's documented behaviour.
#include "fuzz/support/FuzzedSystem.h"

#include <linux/i2c-dev.h>
#include <linux/media.h>
#include <linux/v4l2-subdev.h>
#include <linux/videodev2.h>
#include <sys/mman.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sim/kernel/FgetsPieces.h"

namespace Quarvel {
namespace fuzz {

namespace {

int fail(int error) {
    errno = error;
    return -1;
}

}  // namespace

int FuzzedSystem::open(const char* path, int) {
    opened.emplace_back(path);
    const auto node = nodes.find(path);
    if (node == nodes.end()) return fail(ENOENT);
    const int fd = nextDescriptor++;
    descriptors.emplace(fd, node->second);
    return fd;
}

int FuzzedSystem::close(int fd) { return descriptors.erase(fd) == 1 ? 0 : fail(EBADF); }

int FuzzedSystem::mediaRequest(unsigned long request, void* argument) {
    if (request == MEDIA_IOC_SETUP_LINK) return linkSetupFails ? fail(EINVAL) : 0;
    if (request != MEDIA_IOC_ENUM_ENTITIES) return fail(ENOTTY);
    auto* desc = static_cast<media_entity_desc*>(argument);
    const uint32_t id = desc->id & ~MEDIA_ENT_ID_FLAG_NEXT;
    const auto entity =
        (desc->id & MEDIA_ENT_ID_FLAG_NEXT) ? entities.upper_bound(id) : entities.find(id);
    if (entity == entities.end()) return fail(EINVAL);
    std::memset(desc, 0, sizeof *desc);
    desc->id = entity->second.id;
    std::memcpy(desc->name, entity->second.name, sizeof desc->name);
    desc->type = MEDIA_ENT_T_V4L2_SUBDEV;
    desc->dev.major = entity->second.major;
    desc->dev.minor = entity->second.minor;
    return 0;
}

int FuzzedSystem::ioctl(int fd, unsigned long request, void* argument) {
    const auto descriptor = descriptors.find(fd);
    if (descriptor == descriptors.end()) return fail(EBADF);
    switch (descriptor->second.kind) {
        case NodeKind::Video:
            if (request == VIDIOC_QUERYCAP) {
                auto* capability = static_cast<v4l2_capability*>(argument);
                std::memset(capability, 0, sizeof *capability);
                capability->capabilities = capabilities;
                capability->device_caps = capabilities;
                return 0;
            }
            if (request == VIDIOC_S_INPUT) return 0;
            if (request == VIDIOC_G_FMT) {
                auto* format = static_cast<v4l2_format*>(argument);
                format->fmt.pix.width = frameWidth;
                format->fmt.pix.height = frameHeight;
                return 0;
            }
            return fail(ENOTTY);
        case NodeKind::Media:
            return mediaRequest(request, argument);
        case NodeKind::Subdevice:
            if (request == VIDIOC_SUBDEV_G_FMT) {
                auto* format = static_cast<v4l2_subdev_format*>(argument);
                format->format.width = frameWidth;
                format->format.height = frameHeight;
                return 0;
            }
            return fail(ENOTTY);
        case NodeKind::I2cBus:
            if (request == I2C_FUNCS) {
                *static_cast<unsigned long*>(argument) = i2cFunctionality;
                return 0;
            }
            return fail(ENOTTY);
    }
    return fail(ENOTTY);
}

void* FuzzedSystem::mmap(void*, size_t, int, int, int, off_t) {
    errno = ENODEV;
    return MAP_FAILED;
}

int FuzzedSystem::munmap(void*, size_t) { return fail(EINVAL); }

int FuzzedSystem::fstat(int fd, struct stat* status) {
    const auto descriptor = descriptors.find(fd);
    if (descriptor == descriptors.end()) return fail(EBADF);
    std::memset(status, 0, sizeof *status);
    status->st_mode = S_IFCHR | 0660;
    status->st_rdev = makedev(descriptor->second.major, descriptor->second.minor);
    return 0;
}

int FuzzedSystem::listDirectory(const char* path, std::vector<std::string>* names) {
    const auto directory = directories.find(path);
    if (directory == directories.end()) return fail(ENOENT);
    *names = directory->second;
    return 0;
}

ssize_t FuzzedSystem::readlink(const char* path, char* target, size_t size) {
    const auto link = links.find(path);
    if (link == links.end()) return fail(ENOENT);
    // Like readlink(2): no terminating NUL, silently cut at `size`.
    const size_t length = std::min(size, link->second.size());
    std::memcpy(target, link->second.data(), length);
    return static_cast<ssize_t>(length);
}

int FuzzedSystem::readLines(const char* path, size_t lineCapacity, size_t maxLines,
                            std::vector<std::string>* lines) {
    const auto file = files.find(path);
    if (file == files.end()) return fail(ENOENT);
    sim::fgetsPieces(file->second, lineCapacity, maxLines, lines);
    return 0;
}

}  // namespace fuzz
}  // namespace Quarvel
