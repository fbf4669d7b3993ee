#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace krt {

// The built-in layout: every camera of the catalogue, a page at a time. It is never stored
// and no named layout may take its name.
inline constexpr std::string_view kAllCamerasLayout = "All cameras";

// A named arrangement: a template and the ChannelID shown in each of its cells, in the
// template's cell order; an empty ID is an empty cell.
struct Layout {
    std::string name;
    std::string templateId;
    std::vector<std::string> cells;

    bool operator==(const Layout&) const = default;
};

// A tour shows its stops one after the other, each for the dwell time. A stop names a
// layout; "All cameras" stands for each of its pages in turn.
struct Tour {
    static constexpr int kShortestDwell_s = 5;
    static constexpr int kLongestDwell_s = 300;

    std::string name;
    int dwell_s = 10;
    std::vector<std::string> layouts;
    // How long an alarm's camera is shown in the middle of the tour; 0: alarms do not
    // interrupt it.
    int alarmShow_s = 0;

    bool operator==(const Tour&) const = default;
};

int clampedDwell(int seconds);

// The named layouts and tours, with the rules that keep them consistent: names are unique,
// not empty and never "All cameras"; a layout has one cell per cell of its template; tours
// follow a layout's renaming and removal. Each change returns an error text for the user,
// or nothing when it was made.
class LayoutBook {
  public:
    const std::vector<Layout>& layouts() const { return m_layouts; }
    const std::vector<Tour>& tours() const { return m_tours; }
    const Layout* findLayout(std::string_view name) const;
    const Tour* findTour(std::string_view name) const;

    std::optional<std::string> addLayout(std::string_view name, std::string_view templateId);
    std::optional<std::string> renameLayout(std::string_view name, std::string_view newName);
    std::optional<std::string> duplicateLayout(std::string_view name, std::string_view newName);
    void removeLayout(std::string_view name);
    // A new template keeps the cameras of the cells both have, in cell order.
    std::optional<std::string> setTemplate(std::string_view name, std::string_view templateId);
    // Puts the camera in the cell (an empty ID empties it); a camera already elsewhere in the
    // layout moves to the cell, whose former camera takes its place.
    void placeCamera(std::string_view name, std::size_t cell, std::string_view channelId);
    void swapCells(std::string_view name, std::size_t first, std::size_t second);

    std::optional<std::string> putTour(const Tour& tour);
    void removeTour(std::string_view name);

    // A name not yet taken: "Base", else "Base 2", "Base 3"...
    std::string freeName(std::string_view base) const;

  private:
    friend struct LayoutsFileReader;
    Layout* layout(std::string_view name);
    std::optional<std::string> checkNewName(std::string_view name) const;

    std::vector<Layout> m_layouts;
    std::vector<Tour> m_tours;
};

}  // namespace krt
