#pragma once

// A synthetic dental radiograph: teeth, bone texture and noise, the same picture for the
// same kind, size and seed.

#include "sim/SimCatalogue.h"

#include <QtGlobal>
#include <vector>

struct SimPicture {
    int width = 0;
    int height = 0;
    std::vector<quint16> pixels; // 12-bit values, row by row from the top; bright is dense
};

SimPicture SynthesizeRadiograph(RadiographKind kind, int width, int height, quint32 seed);
