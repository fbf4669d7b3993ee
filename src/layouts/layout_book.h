#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/camera_ref.h"

namespace krt {

// The built-in layout: every camera of the catalogue, a page at a time. It is never stored
// and no named layout may take its name.
inline constexpr std::string_view kAllCamerasLayout = "All cameras";

// A named arrangement: a template and the camera shown in each of its cells, in the
// template's cell order; a camera without a channel is an empty cell. A camera of a server the
// client does not have is kept as it is: the server may come back.
struct Layout {
    std::string name;
    std::string templateId;
    std::vector<CameraRef> cells;

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

// Bounds that keep the book, and the file that holds it, a size the wall can show and read in
// a moment, far above what any operator builds.
inline constexpr std::size_t kMostLayouts = 1000;
inline constexpr std::size_t kMostTours = 100;
// "All cameras" and every layout once.
inline constexpr std::size_t kMostTourStops = kMostLayouts + 1;
inline constexpr std::size_t kLongestName_characters = 200;
// A ChannelID, as long as the longest text the server fills.
inline constexpr std::size_t kLongestChannelId_characters = 255;

// The named layouts and tours, with the rules that keep them consistent: names are unique,
// not empty, not too long and never "All cameras"; a layout has one cell per cell of its
// template; tours follow a layout's renaming and removal; counts stay within the bounds. Each
// change returns an error text for the user, or nothing when it was made.
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
    // Puts the camera in the cell (one without a channel empties it); the same camera already
    // elsewhere in the layout moves to the cell, whose former camera takes its place. An ID
    // longer than any the server sends, or a server's name beyond the longest, is not placed.
    void placeCamera(std::string_view name, std::size_t cell, const CameraRef& camera);
    void swapCells(std::string_view name, std::size_t first, std::size_t second);

    std::optional<std::string> putTour(const Tour& tour);
    void removeTour(std::string_view name);

    // A name not yet taken: "Base", else "Base 2", "Base 3"...
    std::string freeName(std::string_view base) const;

  private:
    friend struct LayoutsFileReader;
    static constexpr std::string_view kLayoutNameTaken = "A layout of that name exists already.";
    static constexpr std::string_view kUnknownTemplate = "Unknown layout template.";

    Layout* layout(std::string_view name);
    // The rules of a layout's name apart from its being free.
    static std::optional<std::string> checkLayoutName(std::string_view name);
    std::optional<std::string> checkNewName(std::string_view name) const;
    std::optional<std::string> checkRoomForLayout() const;
    static std::optional<std::string> checkCamera(const CameraRef& camera);
    // Every empty cell is the same empty cell, whichever server it named.
    static CameraRef keptCamera(const CameraRef& camera);
    // The rules of a tour apart from its name being free; the tour as it is kept.
    static std::optional<std::string> checkTour(const Tour& tour);
    static Tour keptTour(const Tour& tour);

    std::vector<Layout> m_layouts;
    std::vector<Tour> m_tours;
};

}  // namespace krt
