#include "FennickEngine.h"

#include <sndfile.h>

#include <algorithm>

namespace fennick {

std::vector<std::string> readableFileTypes()
{
    std::vector<std::string> types{"wav"};
    const auto add = [&types](const std::string& type) {
        if (!type.empty() && std::find(types.begin(), types.end(), type) == types.end()) types.push_back(type);
    };
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) != 0) continue;
        // Headerless audio says nothing of its rate or channels: there is nothing to read it by.
        if ((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RAW || info.extension == nullptr) continue;
        const std::string extension = info.extension;
        add(extension);
        if (extension == "aiff") add("aif"); // the name most AIFF files have
    }
    return types;
}

} // namespace fennick
