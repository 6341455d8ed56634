// The simulated media controller: entities, pads and links of a board's camera pipeline.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/ThreadSafety.h"
#include "sim/kernel/SimDevice.h"

namespace Quarvel {
namespace sim {

struct SimEntity {
    uint32_t id;
    std::string name;
    uint32_t function;  // MEDIA_ENT_F_*
    uint16_t pads;
    uint32_t major = 0;  // the entity's device node, when it has one
    uint32_t minor = 0;
};

struct SimLink {
    uint32_t sourceEntity;
    uint16_t sourcePad;
    uint32_t sinkEntity;
    uint16_t sinkPad;
    uint32_t flags;  // MEDIA_LNK_FL_*
};

// Answers MEDIA_IOC_DEVICE_INFO, MEDIA_IOC_ENUM_ENTITIES (by id, or the next one with
// MEDIA_ENT_ID_FLAG_NEXT) and MEDIA_IOC_SETUP_LINK as the media-controller API describes.
class SimMediaDevice : public SimDevice {
public:
    explicit SimMediaDevice(std::string driver) : driver(std::move(driver)) {}

    void addEntity(const SimEntity& entity);
    void addLink(const SimLink& link);
    // Whether the link between the two named entities' pads is enabled.
    bool linkEnabled(const std::string& source, uint16_t sourcePad, const std::string& sink,
                     uint16_t sinkPad) const;
    uint32_t idOf(const std::string& name) const;

    int ioctl(unsigned long request, void* argument, bool nonBlocking) override;

private:
    const std::string driver;
    mutable Mutex graphMutex;  // guards entities and links
    std::vector<SimEntity> entities GUARDED_BY(graphMutex);
    std::vector<SimLink> links GUARDED_BY(graphMutex);
};

}  // namespace sim
}  // namespace Quarvel
