#include "Models.h"

#include <cstddef>
#include <cstring>

#include "res/resource.h"
#include "terminal/Description.h"

const ReaderModel kKnownModels[kKnownModelCount] = {
    {"M30", IDS_MODEL_M30},
    {"M31", IDS_MODEL_M31},
    {"M32", IDS_MODEL_M32},
    {"M37", IDS_MODEL_M37},
    {"M39", IDS_MODEL_M39},
    {"M40", IDS_MODEL_M40},
    {"M44", IDS_MODEL_M44},
    {"M48", IDS_MODEL_M48},
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
