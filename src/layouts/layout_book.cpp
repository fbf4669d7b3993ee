#include "layouts/layout_book.h"

#include <algorithm>

#include "layouts/layout_template.h"

namespace krt {
namespace {

bool blank(std::string_view name) {
    return std::ranges::all_of(name, [](unsigned char c) { return c <= ' '; });
}

std::string tooLongText(std::string_view what, std::size_t most) {
    return std::string(what) + " has at most " + std::to_string(most) + " characters.";
}

std::size_t utf8Characters(std::string_view text) {
    // Every byte but the continuation bytes of a sequence starts a character.
    return static_cast<std::size_t>(
        std::ranges::count_if(text, [](unsigned char c) { return (c & 0xC0) != 0x80; }));
}

}  // namespace

int clampedDwell(int seconds) {
    return std::clamp(seconds, Tour::kShortestDwell_s, Tour::kLongestDwell_s);
}

const Layout* LayoutBook::findLayout(std::string_view name) const {
    const auto found = std::ranges::find(m_layouts, name, &Layout::name);
    return found == m_layouts.end() ? nullptr : &*found;
}

const Tour* LayoutBook::findTour(std::string_view name) const {
    const auto found = std::ranges::find(m_tours, name, &Tour::name);
    return found == m_tours.end() ? nullptr : &*found;
}

Layout* LayoutBook::layout(std::string_view name) {
    const auto found = std::ranges::find(m_layouts, name, &Layout::name);
    return found == m_layouts.end() ? nullptr : &*found;
}

std::optional<std::string> LayoutBook::checkLayoutName(std::string_view name) {
    if (blank(name)) {
        return "A layout needs a name.";
    }
    if (utf8Characters(name) > kLongestName_characters) {
        return tooLongText("A layout's name", kLongestName_characters);
    }
    if (name == kAllCamerasLayout) {
        return "\"All cameras\" is the built-in layout; choose another name.";
    }
    return std::nullopt;
}

std::optional<std::string> LayoutBook::checkNewName(std::string_view name) const {
    if (auto error = checkLayoutName(name)) {
        return error;
    }
    if (findLayout(name) != nullptr) {
        return std::string(kLayoutNameTaken);
    }
    return std::nullopt;
}

std::optional<std::string> LayoutBook::checkRoomForLayout() const {
    if (m_layouts.size() >= kMostLayouts) {
        return "There are " + std::to_string(kMostLayouts) +
               " layouts already, the most there can be; delete one first.";
    }
    return std::nullopt;
}

std::optional<std::string> LayoutBook::addLayout(std::string_view name,
                                                 std::string_view templateId) {
    if (auto error = checkNewName(name)) {
        return error;
    }
    if (auto error = checkRoomForLayout()) {
        return error;
    }
    const std::optional<LayoutTemplate> shape = findLayoutTemplate(templateId);
    if (!shape) {
        return std::string(kUnknownTemplate);
    }
    m_layouts.push_back(
        {std::string(name), std::string(templateId), std::vector<CameraRef>(shape->cells.size())});
    return std::nullopt;
}

std::optional<std::string> LayoutBook::renameLayout(std::string_view name,
                                                    std::string_view newName) {
    if (name == newName) {
        return std::nullopt;
    }
    if (auto error = checkNewName(newName)) {
        return error;
    }
    Layout* renamed = layout(name);
    if (renamed == nullptr) {
        return "No layout of that name.";
    }
    for (Tour& tour : m_tours) {
        std::ranges::replace(tour.layouts, renamed->name, std::string(newName));
    }
    renamed->name = newName;
    return std::nullopt;
}

std::optional<std::string> LayoutBook::duplicateLayout(std::string_view name,
                                                       std::string_view newName) {
    if (auto error = checkNewName(newName)) {
        return error;
    }
    if (auto error = checkRoomForLayout()) {
        return error;
    }
    const Layout* original = findLayout(name);
    if (original == nullptr) {
        return "No layout of that name.";
    }
    Layout copy = *original;
    copy.name = newName;
    m_layouts.push_back(std::move(copy));
    return std::nullopt;
}

void LayoutBook::removeLayout(std::string_view name) {
    std::erase_if(m_layouts, [name](const Layout& each) { return each.name == name; });
    for (Tour& tour : m_tours) {
        std::erase(tour.layouts, std::string(name));
    }
}

std::optional<std::string> LayoutBook::setTemplate(std::string_view name,
                                                   std::string_view templateId) {
    const std::optional<LayoutTemplate> shape = findLayoutTemplate(templateId);
    Layout* changed = layout(name);
    if (!shape || changed == nullptr) {
        return "Unknown layout or template.";
    }
    changed->templateId = templateId;
    changed->cells.resize(shape->cells.size());
    return std::nullopt;
}

std::optional<std::string> LayoutBook::checkCamera(const CameraRef& camera) {
    if (utf8Characters(camera.channel) > kLongestChannelId_characters) {
        return tooLongText("A camera's ID", kLongestChannelId_characters);
    }
    if (!camera.isFirstServers() && blank(camera.server)) {
        return std::string("A server needs a name.");
    }
    if (utf8Characters(camera.server) > kLongestName_characters) {
        return tooLongText("A server's name", kLongestName_characters);
    }
    return std::nullopt;
}

CameraRef LayoutBook::keptCamera(const CameraRef& camera) {
    return camera.channel.empty() ? CameraRef{} : camera;
}

void LayoutBook::placeCamera(std::string_view name, std::size_t cell, const CameraRef& camera) {
    Layout* changed = layout(name);
    if (changed == nullptr || cell >= changed->cells.size() || checkCamera(camera)) {
        return;
    }
    const CameraRef placed = keptCamera(camera);
    if (!placed.channel.empty()) {
        const auto elsewhere = std::ranges::find(changed->cells, placed);
        if (elsewhere != changed->cells.end()) {
            *elsewhere = changed->cells[cell];
        }
    }
    changed->cells[cell] = placed;
}

void LayoutBook::swapCells(std::string_view name, std::size_t first, std::size_t second) {
    Layout* changed = layout(name);
    if (changed != nullptr && first < changed->cells.size() && second < changed->cells.size()) {
        std::swap(changed->cells[first], changed->cells[second]);
    }
}

std::optional<std::string> LayoutBook::checkTour(const Tour& tour) {
    if (blank(tour.name)) {
        return "A tour needs a name.";
    }
    if (utf8Characters(tour.name) > kLongestName_characters) {
        return tooLongText("A tour's name", kLongestName_characters);
    }
    if (tour.layouts.empty()) {
        return "A tour needs at least one layout.";
    }
    if (tour.layouts.size() > kMostTourStops) {
        return "A tour shows at most " + std::to_string(kMostTourStops) + " layouts.";
    }
    return std::nullopt;
}

Tour LayoutBook::keptTour(const Tour& tour) {
    Tour kept = tour;
    kept.dwell_s = clampedDwell(tour.dwell_s);
    kept.alarmShow_s = std::max(tour.alarmShow_s, 0);
    return kept;
}

std::optional<std::string> LayoutBook::putTour(const Tour& tour) {
    if (auto error = checkTour(tour)) {
        return error;
    }
    const auto existing = std::ranges::find(m_tours, tour.name, &Tour::name);
    if (existing != m_tours.end()) {
        *existing = keptTour(tour);
        return std::nullopt;
    }
    if (m_tours.size() >= kMostTours) {
        return "There are " + std::to_string(kMostTours) +
               " tours already, the most there can be; delete one first.";
    }
    m_tours.push_back(keptTour(tour));
    return std::nullopt;
}

void LayoutBook::removeTour(std::string_view name) {
    std::erase_if(m_tours, [name](const Tour& each) { return each.name == name; });
}

std::string LayoutBook::freeName(std::string_view base) const {
    std::string name(base);
    for (int number = 2; checkNewName(name); ++number) {
        name = std::string(base) + " " + std::to_string(number);
    }
    return name;
}

}  // namespace krt
