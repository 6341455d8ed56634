// Simulated media controller.
#include "sim/kernel/SimMediaDevice.h"

#include <linux/media.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace Quarvel {
namespace sim {

void SimMediaDevice::addEntity(const SimEntity& entity) {
    MutexLock lock(graphMutex);
    entities.push_back(entity);
    std::sort(entities.begin(), entities.end(),
              [](const SimEntity& a, const SimEntity& b) { return a.id < b.id; });
}

void SimMediaDevice::addLink(const SimLink& link) {
    MutexLock lock(graphMutex);
    links.push_back(link);
}

uint32_t SimMediaDevice::idOf(const std::string& name) const {
    MutexLock lock(graphMutex);
    for (const SimEntity& entity : entities) {
        if (entity.name == name) return entity.id;
    }
    return 0;
}

bool SimMediaDevice::linkEnabled(const std::string& source, uint16_t sourcePad,
                                 const std::string& sink, uint16_t sinkPad) const {
    const uint32_t sourceId = idOf(source);
    const uint32_t sinkId = idOf(sink);
    MutexLock lock(graphMutex);
    for (const SimLink& link : links) {
        if (link.sourceEntity == sourceId && link.sourcePad == sourcePad &&
            link.sinkEntity == sinkId && link.sinkPad == sinkPad) {
            return (link.flags & MEDIA_LNK_FL_ENABLED) != 0;
        }
    }
    return false;
}

int SimMediaDevice::ioctl(unsigned long request, void* argument, bool) {
    MutexLock lock(graphMutex);
    if (request == MEDIA_IOC_DEVICE_INFO) {
        auto* info = static_cast<media_device_info*>(argument);
        std::memset(info, 0, sizeof *info);
        std::snprintf(info->driver, sizeof info->driver, "%s", driver.c_str());
        std::snprintf(info->model, sizeof info->model, "%s", driver.c_str());
        info->media_version = MEDIA_API_VERSION;
        return 0;
    }
    if (request == MEDIA_IOC_ENUM_ENTITIES) {
        auto* description = static_cast<media_entity_desc*>(argument);
        const bool next = (description->id & MEDIA_ENT_ID_FLAG_NEXT) != 0;
        const uint32_t id = description->id & ~MEDIA_ENT_ID_FLAG_NEXT;
        const SimEntity* found = nullptr;
        for (const SimEntity& entity : entities) {
            if (next ? entity.id > id : entity.id == id) {
                found = &entity;
                break;
            }
        }
        if (found == nullptr) return -EINVAL;
        std::memset(description, 0, sizeof *description);
        description->id = found->id;
        std::snprintf(description->name, sizeof description->name, "%s", found->name.c_str());
        description->type = found->function;
        description->pads = found->pads;
        description->links = static_cast<uint16_t>(
            std::count_if(links.begin(), links.end(),
                          [&](const SimLink& link) { return link.sourceEntity == found->id; }));
        description->dev.major = found->major;
        description->dev.minor = found->minor;
        return 0;
    }
    if (request == MEDIA_IOC_SETUP_LINK) {
        auto* description = static_cast<media_link_desc*>(argument);
        for (SimLink& link : links) {
            if (link.sourceEntity == description->source.entity &&
                link.sourcePad == description->source.index &&
                link.sinkEntity == description->sink.entity &&
                link.sinkPad == description->sink.index) {
                if (link.flags & MEDIA_LNK_FL_IMMUTABLE) {
                    return (description->flags & MEDIA_LNK_FL_ENABLED) ? 0 : -EINVAL;
                }
                link.flags = (link.flags & ~MEDIA_LNK_FL_ENABLED) |
                             (description->flags & MEDIA_LNK_FL_ENABLED);
                return 0;
            }
        }
        return -EINVAL;
    }
    return -ENOTTY;
}

}  // namespace sim
}  // namespace Quarvel
