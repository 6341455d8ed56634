// The default configuration writer: three constant texts, one binary write each.
#include "device/ConfigFileWriter.h"

#include <fstream>

#include "device/DefaultConfigTexts.h"

namespace Quarvel {

bool writeDefaultConfigFiles() {
    const ConfigText* const* texts = defaultConfigTexts();
    for (int i = 0; i < kDefaultConfigTextCount; ++i) {
        const ConfigText& text = *texts[i];
        std::ofstream file(text.fileName, std::ios::out | std::ios::binary | std::ios::trunc);
        if (!file.is_open() || file.fail()) return false;
        file.write(text.bytes, static_cast<std::streamsize>(text.size));
    }
    return true;
}

}  // namespace Quarvel
