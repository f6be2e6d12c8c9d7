#include "Models.h"

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
