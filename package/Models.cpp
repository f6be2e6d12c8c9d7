#include "Models.h"

#include <cstddef>
#include <cstring>

#include "terminal/Description.h"

const ReaderModel kKnownModels[kKnownModelCount] = {
    {"M30", "Terminal Falko. Collecte des informations"},
    {"M31", "Terminal Garnet. Collecte des informations"},
    {"M32", "Terminal Helix. Collecte des informations"},
    {"M37", "Terminal Ibex. Collecte des informations"},
    {"M39", "Terminal Jasper. Collecte des informations"},
    {"M40", "Terminal Kestrel. Collecte des informations"},
    {"M44", "Terminal Lumen. Collecte des informations"},
    {"M48", "Terminal Marlin. Collecte des informations"},
};

const ReaderModel* FindReaderModel(const TerminalDescription& description)
{
    for (const ReaderModel& model : kKnownModels)
        if (std::memcmp(description.modelCode, model.code, sizeof description.modelCode) == 0)
            return &model;
    return nullptr;
}

bool SameModelAndOptions(const TerminalDescription& a, const TerminalDescription& b)
{
    constexpr std::size_t kFirst = offsetof(TerminalDescription, generalOptions);
    constexpr std::size_t kEnd = offsetof(TerminalDescription, extensionOptions) + 1;
    static_assert(kFirst == 27 && kEnd == 40, "option bytes 27 to 39");
    const auto* x = reinterpret_cast<const unsigned char*>(&a);
    const auto* y = reinterpret_cast<const unsigned char*>(&b);
    return std::memcmp(a.modelCode, b.modelCode, sizeof a.modelCode) == 0 &&
           std::memcmp(x + kFirst, y + kFirst, kEnd - kFirst) == 0;
}
