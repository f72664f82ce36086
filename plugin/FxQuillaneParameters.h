#pragma once
// The effect's parameter ids, for the effect and for a host that reads its
// projects. They are stored in projects: never renumber.
#include "platform/fxplug/FxPlug.h"

enum FxQuillaneParam : FxParameterId {
    SelectLut = 1,
    OpenQuillane = 2,
    OpenGallery = 3,
    ChooseFile = 4,
    NextLut = 5,
    PrevLut = 6,
    LutData = 7,
    LutDimSize = 8,
    LutRange0 = 9,
    LutRange1 = 10,
    LutPreset = 11,
    LutPresetSize = 12,
    LutName = 13,
    About = 14,
};
