#include "camera_backdrop.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <optional>
#include <string>

namespace krt::sim {
namespace {

// Where the world's features lie, in degrees: angles round the camera, heights above (or
// below, negative) the horizon.
constexpr double kFenceBase = -0.9;
constexpr double kFenceTop = 1.3;
constexpr double kFenceMesh = 0.45;
constexpr double kFencePostEvery = 7.2;
constexpr double kKerbTop = -3.2;
constexpr double kRoadTop = -3.5;
constexpr double kLaneCentre = -5.5;
constexpr double kRoadBottom = -7.5;
constexpr double kParkedCarBottom = -2.9;
constexpr int kParkedCars = 6;
constexpr double kSignTextDegrees = 0.8;

// A colour while it is mixed: components 0 to 255, clamped only when stored.
struct Colour {
    double r = 0.0;
    double g = 0.0;
    double b = 0.0;
};

Colour colourOf(Rgb rgb) {
    return {static_cast<double>(rgb.r), static_cast<double>(rgb.g), static_cast<double>(rgb.b)};
}
Colour mix(Colour a, Colour b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}
Colour scaled(Colour c, double factor) {
    return {c.r * factor, c.g * factor, c.b * factor};
}
Colour brightened(Colour c, double amount) {
    return {c.r + amount, c.g + amount, c.b + amount};
}
std::uint8_t channel(double value) {
    return static_cast<std::uint8_t>(std::clamp(value, 0.0, 255.0));
}

// What std::floor gives, without a call into the maths library on processors without
// SSE4.1: the painter takes it a few times for every pixel.
double floorOf(double value) {
    const auto whole = static_cast<double>(static_cast<std::int64_t>(value));
    return whole > value ? whole - 1.0 : whole;
}

// A well-mixed 32-bit value for a cell of the world's grid.
std::uint32_t hashed(std::uint32_t seed, std::int64_t u, std::int64_t v) {
    std::uint32_t x = seed ^ (static_cast<std::uint32_t>(u) * 0x9E3779B1U) ^
                      (static_cast<std::uint32_t>(v) * 0x85EBCA77U);
    x ^= x >> 16;
    x *= 0x7FEB352DU;
    x ^= x >> 15;
    x *= 0x846CA68BU;
    x ^= x >> 16;
    return x;
}
double unitOf(std::uint32_t hash) {
    return hash * (1.0 / 4294967296.0);
}

double blend(double a, double b, double t) {
    return a + (b - a) * t;
}

// Noise in [0, 1) that varies smoothly: random values on the corners of a grid, blended
// between. A field keeps the corners of the cell it looked up last: the painter goes along
// rows, so most lookups fall into that cell and need no hashing.
class NoiseField {
  public:
    // `uCells` and `vCells` cells to a degree each way; with `cellsRound` the grid repeats
    // round the 360 degrees of u, so that the panorama closes up behind the camera.
    NoiseField(std::uint32_t seed, double uCells, double vCells, std::int64_t cellsRound = 0)
        : m_seed(seed), m_uCells(uCells), m_vCells(vCells), m_cellsRound(cellsRound) {}
    static NoiseField round(std::uint32_t seed, int cellsRound, double vCells) {
        return NoiseField(seed, cellsRound / 360.0, vCells, cellsRound);
    }

    double at(double u, double v) const {
        const double x = u * m_uCells;
        const double y = v * m_vCells;
        const double cellX = floorOf(x);
        const double cellY = floorOf(y);
        auto left = static_cast<std::int64_t>(cellX);
        const auto row = static_cast<std::int64_t>(cellY);
        if (m_cellsRound > 0 && left >= m_cellsRound) {
            left -= m_cellsRound;
        }
        if (left != m_left || row != m_row) {
            const std::int64_t right = left + 1 == m_cellsRound ? 0 : left + 1;
            m_corners = {unitOf(hashed(m_seed, left, row)), unitOf(hashed(m_seed, right, row)),
                         unitOf(hashed(m_seed, left, row + 1)),
                         unitOf(hashed(m_seed, right, row + 1))};
            m_left = left;
            m_row = row;
        }
        const auto smooth = [](double t) { return t * t * (3.0 - 2.0 * t); };
        const double tx = smooth(x - cellX);
        const double ty = smooth(y - cellY);
        return blend(blend(m_corners[0], m_corners[1], tx), blend(m_corners[2], m_corners[3], tx),
                     ty);
    }

  private:
    std::uint32_t m_seed;
    double m_uCells;
    double m_vCells;
    std::int64_t m_cellsRound;
    mutable std::int64_t m_left = std::numeric_limits<std::int64_t>::min();
    mutable std::int64_t m_row = std::numeric_limits<std::int64_t>::min();
    mutable std::array<double, 4> m_corners{};
};

double fraction(double value) {
    return value - floorOf(value);
}

double wrapDegrees(double angle) {
    const double wrapped = std::fmod(angle, 360.0);
    return wrapped < 0.0 ? wrapped + 360.0 : wrapped;
}

// Signed difference a - b folded into [-180, 180).
double angleBetween(double a, double b) {
    return std::fmod(a - b + 540.0, 360.0) - 180.0;
}

// Where the backdrop's world lands on the picture.
struct View {
    double panDegrees;
    double pixelsPerDegree;
    double centreX;
    int horizonY;

    explicit View(const Backdrop& backdrop)
        : panDegrees(backdrop.panDegrees),
          pixelsPerDegree(backdrop.pixelsPerDegree),
          centreX(backdrop.width / 2.0),
          horizonY(backdrop.horizonY) {}

    int x(double angle) const {
        return static_cast<int>(
            std::lround(centreX + angleBetween(angle, panDegrees) * pixelsPerDegree));
    }
    int y(double height) const {
        return static_cast<int>(std::lround(horizonY - height * pixelsPerDegree));
    }
    int length(double degrees) const {
        return std::max(1, static_cast<int>(std::lround(degrees * pixelsPerDegree)));
    }
};

// A landmark's sign, in degrees from its left edge and above the horizon.
struct SignPanel {
    double left = 0.0;
    double right = 0.0;
    double bottom = 0.0;
    double top = 0.0;
};

SignPanel signPanelOf(const Landmark& landmark) {
    SignPanel panel;
    const double width =
        std::min(landmark.widthDegrees - 0.5,
                 static_cast<double>(landmark.sign.size()) * 0.6 * kSignTextDegrees + 0.5);
    panel.left = (landmark.widthDegrees - width) / 2.0;
    panel.right = panel.left + width;
    panel.bottom = std::max(kFenceTop + 1.5, landmark.heightDegrees * 0.55);
    panel.top = panel.bottom + kSignTextDegrees + 0.4;
    return panel;
}

struct ParkedCar {
    SceneRect rect;
    std::string plate;
};

std::vector<ParkedCar> parkedCarsOf(const Backdrop& backdrop, const View& view) {
    std::vector<ParkedCar> cars;
    for (int i = 0; i < kParkedCars; ++i) {
        const std::uint64_t seed = backdrop.seed + 1000 + static_cast<std::uint64_t>(i);
        const double angle = i * (360.0 / kParkedCars) + 10.0 +
                             unitOf(hashed(static_cast<std::uint32_t>(seed), 0, 0)) * 30.0;
        const int width = view.length(7.0);
        const int height = view.length(3.2);
        cars.push_back({{view.x(angle) - width / 2, view.y(kParkedCarBottom) - height, width,
                         height, vehicleColour(seed), Surface::Vehicle},
                        plateNumber(seed)});
    }
    return cars;
}

// What one column of the picture looks at.
struct Column {
    double angle = 0.0;
    std::int64_t grainX = 0;  // the world's grid of picture pixels at this zoom
    const Landmark* landmark = nullptr;
    double landmarkU = 0.0;  // degrees from the landmark's left edge
    SignPanel sign;          // the landmark's
    double treeTop = 0.0;
    bool fencePost = false;
};

class BackdropPainter {
  public:
    explicit BackdropPainter(const Backdrop& backdrop) : m_backdrop(backdrop), m_view(backdrop) {}

    void paint(RasterImage& image) const {
        std::vector<Column> columns(static_cast<std::size_t>(image.width));
        for (int x = 0; x < image.width; ++x) {
            columns[static_cast<std::size_t>(x)] = columnAt(x);
        }
        const double perDegree = m_view.pixelsPerDegree;
        for (int y = 0; y < image.height; ++y) {
            const double height = (m_view.horizonY - y - 0.5) / perDegree;
            const auto grainY = static_cast<std::int64_t>(floorOf(height * perDegree));
            std::uint8_t* pixel = image.pixels.data() + static_cast<std::size_t>(y) *
                                                            static_cast<std::size_t>(image.pitch);
            for (const Column& column : columns) {
                const Colour colour = at(column, height, grainY);
                *pixel++ = channel(colour.r);
                *pixel++ = channel(colour.g);
                *pixel++ = channel(colour.b);
            }
        }
    }

  private:
    std::uint32_t seed(std::uint32_t layer) const {
        return static_cast<std::uint32_t>(m_backdrop.seed) + layer * 0x632BE5ABU;
    }

    Column columnAt(int x) const {
        Column column;
        const double perDegree = m_view.pixelsPerDegree;
        column.angle = wrapDegrees(m_view.panDegrees + (x + 0.5 - m_view.centreX) / perDegree);
        column.grainX = static_cast<std::int64_t>(floorOf(column.angle * perDegree));
        for (const Landmark& landmark : m_backdrop.landmarks) {
            const double u = angleBetween(column.angle, landmark.angle) + landmark.widthDegrees / 2;
            if (u >= 0.0 && u < landmark.widthDegrees) {
                column.landmark = &landmark;  // later landmarks stand in front
                column.landmarkU = u;
            }
        }
        if (column.landmark != nullptr) {
            column.sign = signPanelOf(*column.landmark);
        }
        column.treeTop =
            0.8 + 1.2 * m_treeLine.at(column.angle, 0.0) + 0.3 * m_treeTops.at(column.angle, 0.0);
        const double nearestPost = std::round(column.angle / kFencePostEvery) * kFencePostEvery;
        column.fencePost =
            std::fabs(angleBetween(column.angle, nearestPost)) < std::max(0.1, 0.6 / perDegree);
        return column;
    }

    Colour at(const Column& column, double height, std::int64_t grainY) const {
        const double grain = unitOf(hashed(seed(0), column.grainX, grainY)) - 0.5;
        Colour colour =
            height >= 0.0 ? above(column, height, grain) : ground(column, height, grain);
        if (height >= kFenceBase && height < kFenceTop) {
            colour = fence(column, height, grain, colour);
        }
        return colour;
    }

    Colour above(const Column& column, double height, double grain) const {
        if (column.landmark != nullptr && height < column.landmark->heightDegrees) {
            return facade(*column.landmark, column.sign, column.landmarkU, height, grain);
        }
        if (height < column.treeTop) {
            const double leaves = m_leaves.at(column.angle, height);
            const double twigs = m_twigs.at(column.angle, height);
            return brightened(scaled(Colour{38, 78, 34}, 0.6 + 0.7 * leaves),
                              (twigs - 0.5) * 40.0 + grain * 24.0);
        }
        const Colour sky =
            mix(Colour{165, 195, 225}, colourOf(kSkyColour), std::min(1.0, height / 25.0));
        // Fringes only where the broad shape is thick enough to carry a cloud.
        double cloud = m_clouds.at(column.angle, height);
        if (cloud > 0.45) {
            cloud = 0.65 * cloud + 0.35 * m_cloudFringes.at(column.angle, height);
        }
        const Colour clouded =
            cloud > 0.55 ? mix(sky, Colour{236, 238, 242}, std::min(1.0, (cloud - 0.55) * 3.0))
                         : sky;
        return brightened(clouded, grain * 10.0);
    }

    Colour facade(const Landmark& landmark, const SignPanel& sign, double u, double v,
                  double grain) const {
        const Colour base = colourOf(landmark.colour);
        if (v > landmark.heightDegrees - 0.2) {
            return brightened(Colour{62, 62, 66}, grain * 12.0);  // coping along the roof
        }
        if (u >= sign.left && u < sign.right && v >= sign.bottom && v < sign.top) {
            const double border =
                std::min({u - sign.left, sign.right - u, v - sign.bottom, sign.top - v}) *
                m_view.pixelsPerDegree;
            return border < 1.0 ? Colour{40, 40, 40} : brightened(Colour{238, 232, 212}, grain * 6);
        }
        switch (landmark.look) {
            case 0:
                return brick(base, u, v, grain);
            case 1:
                return windows(base, u, v, grain);
            case 2:
                return corrugatedMetal(base, landmark.widthDegrees, u, v, grain);
            default:
                return concretePanels(base, u, v, grain);
        }
    }

    Colour brick(Colour base, double u, double v, double grain) const {
        constexpr double kCourse = 0.28;
        constexpr double kBrick = 0.62;
        const double course = floorOf(v / kCourse);
        const double along = u + (std::fmod(course, 2.0) != 0.0 ? kBrick / 2 : 0.0);
        if (fraction(v / kCourse) < 0.16 || fraction(along / kBrick) < 0.07) {
            return brightened(Colour{186, 180, 170}, grain * 14.0);  // mortar
        }
        const double shade =
            0.8 + 0.35 * unitOf(hashed(seed(7), static_cast<std::int64_t>(floorOf(along / kBrick)),
                                       static_cast<std::int64_t>(course)));
        return brightened(scaled(mix(base, Colour{150, 70, 50}, 0.6), shade), grain * 22.0);
    }

    Colour windows(Colour base, double u, double v, double grain) const {
        constexpr double kStorey = 1.5;
        constexpr double kPitch = 1.3;
        constexpr double kWidth = 0.8;
        constexpr double kHeight = 0.95;
        constexpr double kSill = 0.3;
        const double across = fraction(u / kPitch) * kPitch - (kPitch - kWidth) / 2;
        const double up = fraction(v / kStorey) * kStorey - kSill;
        if (across < 0.0 || across >= kWidth || up < 0.0 || up >= kHeight || v < kStorey) {
            const double stain = m_wallStains.at(u, v);
            return brightened(scaled(base, 0.8 + 0.2 * stain), grain * 18.0);
        }
        const double frame =
            std::min({across, kWidth - across, up, kHeight - up, std::fabs(across - kWidth / 2)}) *
            m_view.pixelsPerDegree;
        if (frame < 1.0) {
            return brightened(Colour{212, 212, 206}, grain * 8.0);
        }
        const double reflection = m_reflections.at(u + v, v);
        return brightened(mix(Colour{38, 52, 78}, Colour{150, 170, 192}, reflection), grain * 10.0);
    }

    Colour corrugatedMetal(Colour base, double width, double u, double v, double grain) const {
        const double door = std::fabs(u - width / 2);
        if (door < 1.1 && v < 2.4) {
            const bool gap = fraction(v / 0.16) < 0.22 || door > 1.0 || v > 2.3;
            return brightened(gap ? Colour{70, 70, 74} : Colour{168, 168, 162}, grain * 12.0);
        }
        const double rib = 0.78 + 0.22 * std::sin(2.0 * std::numbers::pi * u / 0.28);
        return brightened(scaled(base, rib), grain * 14.0);
    }

    Colour concretePanels(Colour base, double u, double v, double grain) const {
        if (fraction(u / 1.6) < 0.03 || fraction(v / 2.0) < 0.025) {
            return brightened(Colour{92, 92, 94}, grain * 10.0);
        }
        const double stain = m_concreteStains.at(u, v);
        return brightened(scaled(mix(base, Colour{160, 158, 150}, 0.7), 0.85 + 0.25 * stain),
                          grain * 24.0);
    }

    Colour ground(const Column& column, double height, double grain) const {
        const double angle = column.angle;
        if (height >= kFenceBase) {  // gravel under the fence
            const double stones = m_gravel.at(angle, height);
            return brightened(Colour{122, 114, 100}, (stones - 0.5) * 50.0 + grain * 24.0);
        }
        if (height >= kKerbTop) {  // the parking strip, its bays marked
            if (fraction((angle + (height - kFenceBase) * 0.7) / 4.5) < 0.035) {
                return brightened(Colour{226, 226, 216}, grain * 10.0);
            }
            const double patches = m_patches.at(angle, height);
            return brightened(Colour{86, 86, 90}, (patches - 0.5) * 24.0 + grain * 18.0);
        }
        if (height >= kRoadTop) {  // kerb stones, red and white
            const bool red = (static_cast<std::int64_t>(angle / 1.2) & 1) != 0;
            return brightened(red ? Colour{196, 52, 46} : Colour{228, 228, 222}, grain * 10.0);
        }
        if (height >= kRoadBottom) {
            if (std::fabs(height - kLaneCentre) < 0.12 && fraction(angle / 3.0) < 0.5) {
                return brightened(Colour{230, 224, 196}, grain * 10.0);
            }
            const double tracks = m_tracks.at(angle, height);
            return brightened(Colour{66, 67, 71}, (tracks - 0.5) * 18.0 + grain * 18.0);
        }
        const double tufts = m_tufts.at(angle, height);
        return brightened(scaled(colourOf(kGroundColour), 0.75 + 0.5 * tufts), grain * 24.0);
    }

    Colour fence(const Column& column, double height, double grain, Colour behind) const {
        if (column.fencePost) {
            return brightened(Colour{104, 107, 112}, grain * 8.0);
        }
        if (height > kFenceTop - 0.12) {
            return brightened(Colour{132, 135, 139}, grain * 8.0);  // the top rail
        }
        const double wire = std::max(0.045, 0.9 / m_view.pixelsPerDegree) / kFenceMesh;
        if (fraction((column.angle + height) / kFenceMesh) < wire ||
            fraction((column.angle - height) / kFenceMesh) < wire) {
            return mix(behind, Colour{178, 181, 185}, 0.7);
        }
        return behind;
    }

    const Backdrop& m_backdrop;
    const View m_view;
    const NoiseField m_treeLine = NoiseField::round(seed(1), 240, 1.0);
    const NoiseField m_treeTops = NoiseField::round(seed(2), 1080, 1.0);
    const NoiseField m_leaves = NoiseField::round(seed(3), 1440, 4.0);
    const NoiseField m_twigs = NoiseField::round(seed(4), 5040, 14.0);
    const NoiseField m_clouds = NoiseField::round(seed(5), 50, 1.0 / 3.0);
    const NoiseField m_cloudFringes = NoiseField::round(seed(6), 160, 1.0 / 1.1);
    const NoiseField m_wallStains{seed(8), 1.25, 1.25};
    const NoiseField m_reflections{seed(9), 0.7, 0.25};
    const NoiseField m_concreteStains{seed(10), 1.0 / 0.6, 1.0 / 0.6};
    const NoiseField m_gravel = NoiseField::round(seed(11), 2880, 8.0);
    const NoiseField m_patches = NoiseField::round(seed(12), 240, 1.0 / 1.5);
    const NoiseField m_tracks = NoiseField::round(seed(13), 120, 1.25);
    const NoiseField m_tufts = NoiseField::round(seed(14), 1080, 3.0);
};

bool onScreen(const SceneText& text, const Backdrop& backdrop) {
    return text.x < backdrop.width && text.baselineY > 0 &&
           text.x + static_cast<int>(text.text.size()) * text.pixelSize > 0 &&
           text.baselineY - text.pixelSize < backdrop.height;
}

}  // namespace

void paintBackdrop(const Backdrop& backdrop, RasterImage& image) {
    image.resize(backdrop.width, backdrop.height);
    BackdropPainter(backdrop).paint(image);
    for (const ParkedCar& car : parkedCarsOf(backdrop, View(backdrop))) {
        paintVehicle(car.rect, image);
        fillRect(image, numberPlateOf(car.rect));
    }
}

std::vector<SceneText> backdropTexts(const Backdrop& backdrop) {
    const View view(backdrop);
    std::vector<SceneText> texts;
    for (const Landmark& landmark : backdrop.landmarks) {
        const SignPanel sign = signPanelOf(landmark);
        const double left = landmark.angle - landmark.widthDegrees / 2 + sign.left + 0.25;
        texts.push_back({landmark.sign, view.x(left), view.y(sign.bottom + 0.25),
                         view.length(kSignTextDegrees), TextStyle::Sign});
    }
    for (const ParkedCar& car : parkedCarsOf(backdrop, view)) {
        texts.push_back(plateText(numberPlateOf(car.rect), car.plate));
    }
    std::erase_if(texts, [&](const SceneText& text) { return !onScreen(text, backdrop); });
    return texts;
}

void paintVehicle(const SceneRect& rect, RasterImage& image) {
    if (rect.width < 4 || rect.height < 4) {
        fillRect(image, rect);
        return;
    }
    const Colour body = colourOf(rect.colour);
    const int top = std::max(rect.y, 0);
    const int bottom = std::min(rect.y + rect.height, image.height);
    const int left = std::max(rect.x, 0);
    const int right = std::min(rect.x + rect.width, image.width);
    const double pixel = 1.0 / rect.width;  // one picture pixel, across the car
    for (int y = top; y < bottom; ++y) {
        const double down = (y - rect.y + 0.5) / rect.height;
        std::uint8_t* out = image.pixels.data() +
                            static_cast<std::size_t>(y) * static_cast<std::size_t>(image.pitch) +
                            static_cast<std::size_t>(left) * 3;
        for (int x = left; x < right; ++x, out += 3) {
            const double across = (x - rect.x + 0.5) / rect.width;
            const double wheel = std::min(std::fabs(across - 0.2), std::fabs(across - 0.8));
            std::optional<Colour> colour;
            if (down > 0.68 && wheel < 0.11) {
                colour = wheel < 0.05 ? Colour{158, 158, 162} : Colour{24, 24, 26};
            } else if (down >= 0.36 && down < 0.82) {
                const bool seam = std::fabs(across - 0.52) < pixel || std::fabs(down - 0.46) < 0.02;
                const bool lamp = (across < 0.05 || across > 0.95) && down < 0.5;
                colour = lamp   ? Colour{242, 232, 170}
                         : seam ? scaled(body, 0.6)
                                : scaled(body, 1.05 - 0.4 * (down - 0.36));
            } else if (down < 0.36) {
                const double inset = 0.22 + (0.36 - down) * 0.5;
                if (across > inset && across < 1.0 - inset) {
                    const bool pillar = std::fabs(across - 0.52) < 2 * pixel;
                    const double glint = fraction((across + down) * 3.0) < 0.12 ? 50.0 : 0.0;
                    colour = pillar ? scaled(body, 0.7) : brightened(Colour{44, 54, 70}, glint);
                }
            }
            if (colour) {
                out[0] = channel(colour->r);
                out[1] = channel(colour->g);
                out[2] = channel(colour->b);
            }
        }
    }
}

}  // namespace krt::sim
