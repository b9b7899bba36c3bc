#include "sim/SimRadiograph.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace {

// Densities on a 0..1 scale before they become 12-bit values.
constexpr double kAir = 0.08;
constexpr double kSoftTissue = 0.2;
constexpr double kEnamel = 0.93;
constexpr double kDentin = 0.72;
constexpr double kPulp = 0.44;
constexpr double kMetal = 0.99;

class Canvas {
public:
    Canvas(int width, int height, double fill)
        : m_width(width)
        , m_height(height)
        , m_values(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), fill) {}
    int width() const { return m_width; }
    int height() const { return m_height; }
    double& at(int x, int y) { return m_values[index(x, y)]; }
    double value(int x, int y) const { return m_values[index(x, y)]; }
    const std::vector<double>& values() const { return m_values; }

private:
    std::size_t index(int x, int y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(m_width) + static_cast<std::size_t>(x);
    }
    int m_width;
    int m_height;
    std::vector<double> m_values;
};

// Smooth lattice noise in 0..1; a hash of the lattice point and the seed gives its value.
double latticeValue(int x, int y, quint32 seed) {
    quint32 h =
        seed * 0x9E3779B1u ^ static_cast<quint32>(x) * 0x85EBCA77u ^ static_cast<quint32>(y) * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return static_cast<double>(h & 0xFFFFFFu) / static_cast<double>(0x1000000u);
}

double valueNoise(double x, double y, quint32 seed) {
    const double fx = std::floor(x);
    const double fy = std::floor(y);
    const int x0 = static_cast<int>(fx);
    const int y0 = static_cast<int>(fy);
    const auto smooth = [](double t) { return t * t * (3.0 - 2.0 * t); };
    const double tx = smooth(x - fx);
    const double ty = smooth(y - fy);
    const double top = std::lerp(latticeValue(x0, y0, seed), latticeValue(x0 + 1, y0, seed), tx);
    const double bottom = std::lerp(latticeValue(x0, y0 + 1, seed), latticeValue(x0 + 1, y0 + 1, seed), tx);
    return std::lerp(top, bottom, ty);
}

// Trabecular bone: noise at three scales, sized to the picture so every size looks alike.
double boneTexture(int x, int y, double scale, quint32 seed) {
    return 0.5 * valueNoise(x / (22.0 * scale), y / (22.0 * scale), seed) +
           0.3 * valueNoise(x / (8.0 * scale), y / (8.0 * scale), seed + 1) +
           0.2 * valueNoise(x / (3.0 * scale), y / (3.0 * scale), seed + 2);
}

class Random {
public:
    explicit Random(quint32 seed)
        : m_engine(seed) {}
    // The engine's raw output is the same everywhere; the standard distributions are not.
    double uniform() { return static_cast<double>(m_engine()) / 4294967296.0; }
    double between(double low, double high) { return low + (high - low) * uniform(); }

private:
    std::mt19937 m_engine;
};

struct Tooth {
    double centre;   // x of the axis at the biting surface
    double occlusal; // y of the biting surface
    int direction;   // +1: the root grows downwards, -1: upwards
    double crownLength;
    double rootLength;
    double halfWidth; // of the crown at its widest
    double tilt;      // x offset per pixel along the axis
    bool filled;      // a metal filling in the crown
};

double toothHalfWidth(const Tooth& tooth, double along) {
    if (along < 0)
        return 0;
    const double rootHalf = 0.72 * tooth.halfWidth;
    if (along <= tooth.crownLength) {
        const double t = along / tooth.crownLength;
        if (t < 0.3)
            return tooth.halfWidth * std::sqrt(1.0 - std::pow((0.3 - t) / 0.3, 2));
        return tooth.halfWidth - (tooth.halfWidth - rootHalf) * std::pow((t - 0.3) / 0.7, 2);
    }
    const double s = (along - tooth.crownLength) / tooth.rootLength;
    if (s >= 1)
        return 0;
    return rootHalf * std::sqrt(1.0 - std::pow(s, 1.8));
}

void paintTooth(Canvas& canvas, const Tooth& tooth) {
    const double length = tooth.crownLength + tooth.rootLength;
    const double yEnd = tooth.occlusal + tooth.direction * length;
    const int yFrom = std::max(0, static_cast<int>(std::floor(std::min(tooth.occlusal, yEnd))));
    const int yTo =
        std::min(canvas.height() - 1, static_cast<int>(std::ceil(std::max(tooth.occlusal, yEnd))));
    const double ligament = std::max(1.5, tooth.halfWidth * 0.06);
    for (int y = yFrom; y <= yTo; ++y) {
        const double along = (y - tooth.occlusal) * tooth.direction;
        const double half = toothHalfWidth(tooth, along);
        const double axis = tooth.centre + tooth.tilt * along;
        const bool inRoot = along > tooth.crownLength;
        const int xFrom = std::max(0, static_cast<int>(axis - half - 2 * ligament - 1));
        const int xTo = std::min(canvas.width() - 1, static_cast<int>(axis + half + 2 * ligament + 1));
        for (int x = xFrom; x <= xTo; ++x) {
            const double offset = std::abs(x - axis);
            double& value = canvas.at(x, y);
            if (offset > half) {
                // The periodontal ligament shows as a dark seam round the root, the socket wall
                // (lamina dura) as a bright one outside it.
                if (inRoot && offset <= half + ligament)
                    value -= 0.08;
                else if (inRoot && offset <= half + 2 * ligament)
                    value += 0.05;
                continue;
            }
            const double d = half > 0 ? offset / half : 1.0;
            double density = kDentin;
            if (!inRoot) {
                const double t = along / tooth.crownLength;
                if (d > 0.82 || t < 0.12)
                    density = kEnamel;
                if (t > 0.45 && d < 0.3)
                    density = kPulp;
                if (tooth.filled && t < 0.3 && d < 0.5)
                    density = kMetal;
            } else {
                const double s = (along - tooth.crownLength) / tooth.rootLength;
                density = kDentin - 0.04;
                if (d < 0.16 && s < 0.93)
                    density = kPulp - 0.02;
            }
            value = std::max(value, density);
        }
    }
}

void paintIntraoral(Canvas& canvas, Random& random, quint32 seed) {
    const int w = canvas.width();
    const int h = canvas.height();
    const double scale = w / 400.0;
    const double phase = random.between(0, 6.28);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double u = static_cast<double>(x) / w;
            const double v = static_cast<double>(y) / h;
            const double crest = 0.36 + 0.03 * std::sin(u * 9.4 + phase);
            double value = kSoftTissue + 0.06 * v;
            if (v > crest)
                value = 0.36 + 0.2 * boneTexture(x, y, scale, seed) + (v < crest + 0.015 ? 0.08 : 0.0);
            canvas.at(x, y) = value;
        }
    }
    const int teeth = 3;
    const int filled = static_cast<int>(random.uniform() * 5); // 3 and 4: no filling
    for (int i = 0; i < teeth; ++i) {
        Tooth tooth;
        tooth.centre = w * (0.2 + 0.3 * i + random.between(-0.02, 0.02));
        tooth.occlusal = h * random.between(0.04, 0.08);
        tooth.direction = 1;
        tooth.crownLength = h * 0.3;
        tooth.rootLength = h * random.between(0.5, 0.56);
        tooth.halfWidth = w * random.between(0.11, 0.13);
        tooth.tilt = random.between(-0.05, 0.05);
        tooth.filled = i == filled;
        paintTooth(canvas, tooth);
    }
}

void paintPanoramic(Canvas& canvas, Random& random, quint32 seed) {
    const int w = canvas.width();
    const int h = canvas.height();
    const double scale = w / 1200.0;
    const auto occlusalAt = [](double u) { return 0.5 + 0.06 * (1.0 - std::pow(2 * u - 1, 2)); };
    const auto lowerBorderAt = [](double u) { return 0.8 + 0.1 * (1.0 - std::pow(2 * u - 1, 2)); };
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double u = static_cast<double>(x) / w;
            const double v = static_cast<double>(y) / h;
            const double face = std::pow((u - 0.5) / 0.5, 2) + std::pow((v - 0.55) / 0.6, 2);
            double value = face < 1 ? kSoftTissue : kAir;
            const double occlusal = occlusalAt(u);
            const double border = lowerBorderAt(u);
            // The alveolar bone ends where the crowns begin; the crowns stand in soft tissue.
            const bool maxilla = u > 0.12 && u < 0.88 && v > occlusal - 0.3 && v < occlusal - 0.1;
            const bool body = u > 0.1 && u < 0.9 && v >= occlusal + 0.1 && v < border;
            const bool ramus = (u > 0.05 && u < 0.16) || (u > 0.84 && u < 0.95);
            const bool mandible = body || (ramus && v > 0.22 && v < border);
            if (maxilla || mandible)
                value = 0.34 + 0.16 * boneTexture(x, y, scale, seed);
            if (mandible && v > border - 0.025)
                value += 0.25; // the cortical lower border
            const bool sinus =
                std::pow((std::abs(u - 0.5) - 0.22) / 0.1, 2) + std::pow((v - occlusal + 0.33) / 0.08, 2) < 1;
            if (sinus)
                value = kSoftTissue - 0.04;
            if (u < 0.04 || u > 0.96)
                value +=
                    0.12 * valueNoise(x / (40.0 * scale), y / (40.0 * scale), seed + 3); // the spine's shadow
            canvas.at(x, y) = value;
        }
    }
    // Sixteen teeth per jaw, from molars at the ends to incisors in the middle.
    std::vector<double> widths;
    for (int i = 0; i < 16; ++i) {
        const double fromMiddle = std::abs(i - 7.5);
        widths.push_back(fromMiddle < 2 ? 0.8 : fromMiddle < 3 ? 0.9 : fromMiddle < 5 ? 1.0 : 1.35);
    }
    double total = 0;
    for (double width : widths)
        total += width;
    const int missing = static_cast<int>(random.uniform() * 40); // some pictures lack a tooth
    const int filled = static_cast<int>(random.uniform() * 32);
    for (int jaw = 0; jaw < 2; ++jaw) {
        double left = 0.16;
        for (int i = 0; i < 16; ++i) {
            const double share = 0.68 * widths[static_cast<std::size_t>(i)] / total;
            const double u = left + share / 2;
            left += share;
            const int index = jaw * 16 + i;
            if (index == missing)
                continue;
            Tooth tooth;
            tooth.centre = w * u;
            tooth.direction = jaw == 0 ? -1 : 1;
            tooth.occlusal = h * (occlusalAt(u) + tooth.direction * 0.008);
            tooth.crownLength = h * 0.11;
            tooth.rootLength = h * random.between(0.15, 0.19);
            tooth.halfWidth = w * share * 0.46;
            tooth.tilt = (u - 0.5) * 0.25 * tooth.direction + random.between(-0.03, 0.03);
            tooth.filled = index == filled;
            paintTooth(canvas, tooth);
        }
    }
}

// The image receptor's blur: a 3 x 3 box softens the painted edges.
void blur(Canvas& canvas) {
    const Canvas source = canvas;
    for (int y = 1; y + 1 < source.height(); ++y) {
        for (int x = 1; x + 1 < source.width(); ++x) {
            double sum = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    sum += source.value(x + dx, y + dy);
            canvas.at(x, y) = sum / 9.0;
        }
    }
}

} // namespace

SimPicture SynthesizeRadiograph(RadiographKind kind, int width, int height, quint32 seed) {
    Canvas canvas(width, height, kAir);
    Random random(seed);
    if (kind == RadiographKind::Panoramic)
        paintPanoramic(canvas, random, seed);
    else
        paintIntraoral(canvas, random, seed);
    blur(canvas);

    SimPicture picture{width, height, {}};
    picture.pixels.reserve(canvas.values().size());
    for (std::size_t i = 0; i < canvas.values().size(); ++i) {
        const int x = static_cast<int>(i % static_cast<std::size_t>(width));
        // A slight fall-off across the picture (the heel effect) and quantum noise.
        const double heel = 0.94 + 0.06 * x / std::max(1, width - 1);
        const double noise = (random.uniform() + random.uniform() + random.uniform() - 1.5) * 0.035;
        const double value = std::clamp(canvas.values()[i] * heel + noise, 0.0, 1.0);
        picture.pixels.push_back(static_cast<quint16>(std::lround(value * 4095.0)));
    }
    return picture;
}
