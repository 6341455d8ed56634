// A kernel built from fuzz input: files, directories, links, device nodes and a media graph.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sensor/SystemCalls.h"

namespace Quarvel {
namespace fuzz {

// Answers the seam's calls from tables a target fills, the way Linux answers them
// (Documentation/userspace-api/media, i2c/dev-interface): MEDIA_IOC_ENUM_ENTITIES with
// MEDIA_ENT_ID_FLAG_NEXT hands out the entity with the next larger id, EINVAL after the
// last; unknown requests fail with ENOTTY; paths that do not exist with ENOENT. What the
// tables hold is hostile: names without a terminating NUL, links to anywhere, any size.
// Single-threaded.
class FuzzedSystem final : public SystemCalls {
public:
    enum class NodeKind { Video, Media, Subdevice, I2cBus };
    struct Entity {
        uint32_t id = 0;
        char name[32] = {};  // copied as it is, terminated or not
        uint32_t major = 0;
        uint32_t minor = 0;
    };

    void addFile(const std::string& path, const std::string& content) { files[path] = content; }
    void addDirectory(const std::string& path, std::vector<std::string> names) {
        directories[path] = std::move(names);
    }
    void addLink(const std::string& path, const std::string& target) { links[path] = target; }
    void addNode(const std::string& path, NodeKind kind, unsigned major = 0, unsigned minor = 0) {
        nodes[path] = Node{kind, major, minor};
    }
    // Entities keep the first of equal ids, as ids are unique in a media graph.
    void addEntity(const Entity& entity) { entities.emplace(entity.id, entity); }

    // What the device nodes answer.
    uint32_t capabilities = 0;  // VIDIOC_QUERYCAP
    uint32_t frameWidth = 0;    // VIDIOC_G_FMT and VIDIOC_SUBDEV_G_FMT
    uint32_t frameHeight = 0;
    unsigned long i2cFunctionality = 0;  // I2C_FUNCS
    bool linkSetupFails = false;         // MEDIA_IOC_SETUP_LINK

    int openDescriptorCount() const { return static_cast<int>(descriptors.size()); }
    // Every path open() was asked for, in order.
    const std::vector<std::string>& openedPaths() const { return opened; }

    int open(const char* path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* argument) override;
    void* mmap(void* address, size_t length, int protection, int flags, int fd,
               off_t offset) override;
    int munmap(void* address, size_t length) override;
    int fstat(int fd, struct stat* status) override;
    int listDirectory(const char* path, std::vector<std::string>* names) override;
    ssize_t readlink(const char* path, char* target, size_t size) override;
    int readLines(const char* path, size_t lineCapacity, size_t maxLines,
                  std::vector<std::string>* lines) override;

private:
    struct Node {
        NodeKind kind;
        unsigned major;
        unsigned minor;
    };
    int mediaRequest(unsigned long request, void* argument);

    std::map<std::string, std::string> files;
    std::map<std::string, std::vector<std::string>> directories;
    std::map<std::string, std::string> links;
    std::map<std::string, Node> nodes;
    std::map<uint32_t, Entity> entities;
    std::map<int, Node> descriptors;
    std::vector<std::string> opened;
    int nextDescriptor = 100;
};

}  // namespace fuzz
}  // namespace Quarvel
