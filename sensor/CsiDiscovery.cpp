// CSI discovery: the sensor's bus from the Jetson video node's sysfs name, and the media-graph
// walk that finds bridges, the sensor subdevice and its bus on Raspberry Pi and Radxa boards.
#include <fcntl.h>
#include <linux/media.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sensor/QuarvelTOFCSISensor.h"

namespace Quarvel {

namespace {

constexpr size_t kSysfsLineCapacity = 256;
constexpr size_t kLinkCapacity = 255;

// The character device behind a descriptor: its major and minor numbers.
bool characterDevice(SystemCalls& system, int fd, unsigned* major, unsigned* minor) {
    struct stat status {};
    if (system.fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) return false;
    *major = ::major(status.st_rdev);
    *minor = ::minor(status.st_rdev);
    return true;
}

// Next entity after `id` (from the start when id is 0); false at the end or on error.
bool nextEntity(SystemCalls& system, int mediaFd, uint32_t id, media_entity_desc* entity,
                bool retry) {
    std::memset(entity, 0, sizeof *entity);
    entity->id = id | MEDIA_ENT_ID_FLAG_NEXT;
    const int result = retry ? retryingIoctl(system, mediaFd, MEDIA_IOC_ENUM_ENTITIES, entity)
                             : system.ioctl(mediaFd, MEDIA_IOC_ENUM_ENTITIES, entity);
    return result >= 0;
}

std::string entityName(const media_entity_desc& entity) {
    return std::string(entity.name, strnlen(entity.name, sizeof entity.name));
}

// Id of the entity named exactly `name`, or -1 after the "Query entity failed" message when
// the enumeration ends without it.
uint32_t findEntityId(SystemCalls& system, int mediaFd, const char* name) {
    media_entity_desc entity;
    uint32_t id = 0;
    while (nextEntity(system, mediaFd, id, &entity, false)) {
        if (entityName(entity) == name) return entity.id;
        id = entity.id;
    }
    std::perror("Query entity failed");
    return static_cast<uint32_t>(-1);
}

}  // namespace

int QuarvelTOFCSISensor::findBusNameInSysfs() {
    unsigned major = 0;
    unsigned minor = 0;
    if (!characterDevice(system, videoFd.get(), &major, &minor)) return QuarvelSystemError;
    char path[64];
    std::snprintf(path, sizeof path, "/sys/dev/char/%u:%u/name", major, minor);
    std::vector<std::string> lines;
    if (system.readLines(path, kSysfsLineCapacity, 1, &lines) != 0 || lines.empty()) {
        return QuarvelSystemError;
    }
    const std::string& line = lines.front();
    size_t at = line.find("quarvel");
    if (at == std::string::npos) return QuarvelSystemError;
    std::memset(i2cBusName, 0, sizeof i2cBusName);
    // A line without a space after the name leaves the bus name empty: the scan ends at the
    // end of the line, and the bus lookup reports the missing bus.
    while (at < line.size() && line[at] != ' ' && line[at] != '\n') ++at;
    if (at >= line.size() || line[at] != ' ') return QuarvelSuccess;
    ++at;
    for (size_t digits = 0; digits + 1 < sizeof i2cBusName && at < line.size() &&
                            std::isdigit(static_cast<unsigned char>(line[at]));
         ++digits, ++at) {
        i2cBusName[digits] = line[at];
    }
    return QuarvelSuccess;
}

void QuarvelTOFCSISensor::walkMediaGraph() {
    unsigned major = 0;
    unsigned minor = 0;
    if (!characterDevice(system, videoFd.get(), &major, &minor)) return;
    char directory[64];
    std::snprintf(directory, sizeof directory, "/sys/dev/char/%u:%u/device", major, minor);
    std::vector<std::string> entries;
    if (system.listDirectory(directory, &entries) != 0 || entries.empty()) return;

    // The last listed media node that opens is the one used.
    UniqueFd mediaFd;
    for (auto entry = entries.rbegin(); entry != entries.rend() && !mediaFd.isValid(); ++entry) {
        if (entry->compare(0, 5, "media") != 0) continue;
        const int length = std::snprintf(mediaPath, sizeof mediaPath, "/dev/%s", entry->c_str());
        if (length < 0 || static_cast<size_t>(length) >= sizeof mediaPath) return;
        const int fd = system.open(mediaPath, O_RDWR);
        if (fd >= 0) mediaFd = UniqueFd(system, fd);
    }
    if (!mediaFd.isValid()) return;

    if (boardModel == BOARD_RASPBERRY_PI_5) {
        const uint32_t bridge = findEntityId(system, mediaFd.get(), "csi2");
        const uint32_t channel = findEntityId(system, mediaFd.get(), "rp1-cfe-csi2_ch0");
        media_link_desc link{};
        link.source.entity = bridge;
        link.source.index = 4;
        link.source.flags = MEDIA_PAD_FL_SOURCE;
        link.sink.entity = channel;
        link.sink.index = 0;
        link.sink.flags = MEDIA_PAD_FL_SINK;
        link.flags = MEDIA_LNK_FL_ENABLED;
        if (retryingIoctl(system, mediaFd.get(), MEDIA_IOC_SETUP_LINK, &link) < 0) return;
    }

    media_entity_desc entity;
    uint32_t id = 0;
    while (nextEntity(system, mediaFd.get(), id, &entity, true)) {
        id = entity.id;
        const std::string name = entityName(entity);
        bool bridge = false;
        bool sensor = false;
        if (boardModel == BOARD_RADXA_ROCK) {
            bridge = name == "rockchip-csi2-dphy1";
            sensor = name.find("vantorix") != std::string::npos;
        } else if (boardModel == BOARD_RASPBERRY_PI_5) {
            bridge = name == "csi2";
            sensor = name.find("quarvel-vantorix") != std::string::npos;
        } else {
            sensor = name.find("quarvel-vantorix") != std::string::npos;
        }
        if (bridge) {
            if (!recordSubdevice(entity.dev.major, entity.dev.minor)) return;
            continue;
        }
        if (!sensor) continue;

        const size_t space = name.find(' ');
        if (space == std::string::npos) return;
        char busName[sizeof i2cBusName] = {};
        std::snprintf(busName, sizeof busName, "%s", name.c_str() + space + 1);
        if (char* dash = std::strchr(busName, '-')) *dash = '\0';
        const uint8_t slot = subdevCount;
        // Without its subdevice the sensor cannot be driven: its bus counts only with it.
        if (!recordSubdevice(entity.dev.major, entity.dev.minor)) return;
        sensorSubdevIndex = slot;
        std::memcpy(i2cBusName, busName, sizeof i2cBusName);
        return;
    }
}

bool QuarvelTOFCSISensor::recordSubdevice(uint32_t major, uint32_t minor) {
    char link[64];
    std::snprintf(link, sizeof link, "/sys/dev/char/%u:%u", major, minor);
    char target[kLinkCapacity + 1];
    const ssize_t length = system.readlink(link, target, kLinkCapacity);
    if (length < 0) return false;
    target[length] = '\0';
    const char* last = std::strrchr(target, '/');
    if (last == nullptr || std::strncmp(last, "/v4l-subdev", 11) != 0) return false;
    if (subdevCount >= kMaxSubdevices) return false;
    char node[kLinkCapacity + 8];
    std::snprintf(node, sizeof node, "/dev%s", last);
    const int fd = system.open(node, O_RDWR);
    if (fd < 0) return false;
    subdevFds[subdevCount] = UniqueFd(system, fd);
    ++subdevCount;
    return true;
}

}  // namespace Quarvel
