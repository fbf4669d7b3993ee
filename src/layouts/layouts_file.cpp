#include "layouts/layouts_file.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <nlohmann/json.hpp>
#include <unordered_set>

#include "common/private_file.h"
#include "common/server_text.h"
#include "layouts/layout_template.h"

namespace krt {

using Json = nlohmann::json;

namespace {

constexpr std::string_view kKeptText =
    "; the file is left as it is and layout changes are not saved.";

std::string quoted(const std::filesystem::path& path) {
    return "\"" + path.string() + "\"";
}

std::string stringField(const Json& object, const char* key) {
    const Json& value = object.at(key);
    if (!value.is_string()) {
        throw std::invalid_argument(std::string("\"") + key + "\" is not a text");
    }
    return value.get<std::string>();
}

int intField(const Json& object, const char* key, int fallback) {
    const auto found = object.find(key);
    if (found == object.end()) {
        return fallback;
    }
    if (!found->is_number_integer()) {
        throw std::invalid_argument(std::string("\"") + key + "\" is not a whole number");
    }
    return found->get<int>();
}

const Json& listField(const Json& object, const char* key) {
    const Json& value = object.at(key);
    if (!value.is_array()) {
        throw std::invalid_argument(std::string("\"") + key + "\" is not a list");
    }
    return value;
}

const Json& countedList(const Json& object, const char* key, std::size_t most) {
    const Json& list = listField(object, key);
    if (list.size() > most) {
        throw std::invalid_argument("it holds more than " + std::to_string(most) + " " + key);
    }
    return list;
}

// A cell of another server is an object: its start, two keys and two texts.
constexpr std::size_t kMostCellValues = 5;
// Every value a book within its bounds can have, keys and list starts included: a file of more
// is refused while it is parsed, before it takes the memory of all of them.
constexpr std::size_t kMostFileValues = kMostLayouts * (kMostLayoutCells * kMostCellValues + 8) +
                                        kMostTours * (kMostTourStops + 10) + 16;

Json parsedWithinBounds(std::string_view text) {
    std::size_t values = 0;
    return Json::parse(text, [&values](int, Json::parse_event_t event, const Json&) {
        if (event != Json::parse_event_t::object_end && event != Json::parse_event_t::array_end &&
            ++values > kMostFileValues) {
            throw std::invalid_argument("it holds more entries than any layouts file can");
        }
        return true;
    });
}

std::vector<std::string> textList(const Json& object, const char* key) {
    const Json& value = listField(object, key);
    std::vector<std::string> texts;
    texts.reserve(value.size());
    for (const Json& each : value) {
        if (!each.is_string()) {
            throw std::invalid_argument(std::string("\"") + key + "\" holds something not a text");
        }
        texts.push_back(each.get<std::string>());
    }
    return texts;
}

CameraRef cameraOf(const Json& cell) {
    if (cell.is_string()) {
        return {.server = {}, .channel = cell.get<std::string>()};
    }
    if (!cell.is_object()) {
        throw std::invalid_argument(
            "\"cells\" holds something neither a text nor a server's camera");
    }
    return {.server = stringField(cell, "server"), .channel = stringField(cell, "channel")};
}

Json cellJson(const CameraRef& camera) {
    if (camera.isFirstServers()) {
        return camera.channel;
    }
    return {{"server", camera.server}, {"channel", camera.channel}};
}

// The oldest version that holds the book, so that a client of one server reads what is all
// its own.
int writtenVersion(const LayoutBook& book) {
    const bool firstServersOnly = std::ranges::all_of(book.layouts(), [](const Layout& layout) {
        return std::ranges::all_of(layout.cells, &CameraRef::isFirstServers);
    });
    return firstServersOnly ? kFirstServersLayoutsFileVersion : kLayoutsFileVersion;
}

}  // namespace

// Builds the book through its own rules, so that a file can hold nothing the user could not
// have made: a rule it breaks makes it corrupt. Names are looked up in sets of their own, so
// that reading takes as long as the file is long.
struct LayoutsFileReader {
    static LayoutBook read(const Json& document) {
        LayoutBook book;
        std::unordered_set<std::string> names;
        for (const Json& entry : countedList(document, "layouts", kMostLayouts)) {
            book.m_layouts.push_back(readLayout(entry, names));
        }
        if (document.contains("tours")) {
            names.clear();
            for (const Json& entry : countedList(document, "tours", kMostTours)) {
                book.m_tours.push_back(readTour(entry, names));
            }
        }
        return book;
    }

    static Layout readLayout(const Json& entry, std::unordered_set<std::string>& names) {
        Layout layout{stringField(entry, "name"), stringField(entry, "template"), {}};
        check(LayoutBook::checkLayoutName(layout.name), layout.name);
        checkFree(names, layout.name, LayoutBook::kLayoutNameTaken);
        const std::optional<LayoutTemplate> shape = findLayoutTemplate(layout.templateId);
        if (!shape) {
            fail(LayoutBook::kUnknownTemplate, layout.name);
        }
        const Json& cells = listField(entry, "cells");
        if (cells.size() > shape->cells.size()) {
            fail("It has more cameras than cells.", layout.name);
        }
        for (const Json& cell : cells) {
            const CameraRef camera = cameraOf(cell);
            check(LayoutBook::checkCamera(camera), layout.name);
            layout.cells.push_back(LayoutBook::keptCamera(camera));
        }
        layout.cells.resize(shape->cells.size());
        return layout;
    }

    static Tour readTour(const Json& entry, std::unordered_set<std::string>& names) {
        const Tour tour{stringField(entry, "name"), intField(entry, "dwellSeconds", 10),
                        textList(entry, "layouts"), intField(entry, "alarmSeconds", 0)};
        check(LayoutBook::checkTour(tour), tour.name);
        checkFree(names, tour.name, "A tour of that name exists already.");
        return LayoutBook::keptTour(tour);
    }

    static void checkFree(std::unordered_set<std::string>& names, const std::string& name,
                          std::string_view taken) {
        if (!names.insert(name).second) {
            fail(taken, name);
        }
    }

    static void check(const std::optional<std::string>& error, std::string_view name) {
        if (error) {
            fail(*error, name);
        }
    }

    [[noreturn]] static void fail(std::string_view error, std::string_view name) {
        throw std::invalid_argument("\"" + shownServerText(name) + "\": " + std::string(error));
    }
};

LayoutsFileResult parseLayouts(std::string_view text, const std::filesystem::path& path) {
    LayoutsFileResult result;
    try {
        const Json document = parsedWithinBounds(text);
        if (!document.is_object() || document.value("format", "") != kLayoutsFileFormat) {
            throw std::invalid_argument("it is not a layouts file");
        }
        const int version = intField(document, "version", 0);
        if (version > kLayoutsFileVersion) {
            result.state = LayoutsFileState::NewerVersion;
            result.message = "The layouts file " + quoted(path) +
                             " was written by a newer version of the client (format " +
                             std::to_string(version) + ")" + std::string(kKeptText);
            return result;
        }
        if (version < 1) {
            throw std::invalid_argument("its version is not known");
        }
        result.book = LayoutsFileReader::read(document);
        result.state = LayoutsFileState::Read;
    } catch (const std::exception& error) {
        result = {};
        result.state = LayoutsFileState::Corrupt;
        // The parser's words may quote the file: one line, as long as a shown text.
        result.message = "The layouts file " + quoted(path) + " cannot be read (" +
                         shownServerText(error.what()) + ")" + std::string(kKeptText);
    }
    return result;
}

LayoutsFileResult readLayoutsFile(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error) && !error) {
        return {};
    }
    const auto failed = [&path](LayoutsFileState state, std::string_view what) {
        LayoutsFileResult result;
        result.state = state;
        result.message =
            "The layouts file " + quoted(path) + std::string(what) + std::string(kKeptText);
        return result;
    };
    std::ifstream file(path, std::ios::binary);
    std::string text;
    // Read in pieces and never past the bound: the size the file claims may change meanwhile.
    std::array<char, std::size_t{64} * 1024> piece{};
    while (file.read(piece.data(), piece.size()) || file.gcount() > 0) {
        text.append(piece.data(), static_cast<std::size_t>(file.gcount()));
        if (text.size() > kLargestLayoutsFile_bytes) {
            return failed(LayoutsFileState::TooLarge,
                          " is larger than " + std::to_string(kLargestLayoutsFile_MB) + " MB");
        }
    }
    if (!file.is_open() || file.bad()) {
        return failed(LayoutsFileState::Unreadable, " cannot be opened");
    }
    return parseLayouts(text, path);
}

std::string layoutsJson(const LayoutBook& book) {
    Json layouts = Json::array();
    for (const Layout& layout : book.layouts()) {
        Json cells = Json::array();
        for (const CameraRef& cell : layout.cells) {
            cells.push_back(cellJson(cell));
        }
        layouts.push_back(
            {{"name", layout.name}, {"template", layout.templateId}, {"cells", std::move(cells)}});
    }
    Json tours = Json::array();
    for (const Tour& tour : book.tours()) {
        tours.push_back({{"name", tour.name},
                         {"dwellSeconds", tour.dwell_s},
                         {"layouts", tour.layouts},
                         {"alarmSeconds", tour.alarmShow_s}});
    }
    const Json document = {{"format", kLayoutsFileFormat},
                           {"version", writtenVersion(book)},
                           {"layouts", layouts},
                           {"tours", tours}};
    // Names may hold any bytes: invalid UTF-8 is replaced rather than refused.
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::optional<std::string> writeLayoutsFile(const std::filesystem::path& path,
                                            const LayoutBook& book) {
    const auto failed = [&path](const std::string& what) {
        return "The layouts could not be saved to " + quoted(path) + " (" + what + ").";
    };
    const std::string json = layoutsJson(book);
    if (json.size() > kLargestLayoutsFile_bytes) {
        // A file no client would read back is not written over the one it would.
        return failed("they would take more than " + std::to_string(kLargestLayoutsFile_MB) +
                      " MB");
    }
    std::error_code error = makePrivateFolder(path.parent_path());
    if (!error) {
        error = writePrivateFile(path, json);
    }
    if (error) {
        return failed(error.message());
    }
    return std::nullopt;
}

}  // namespace krt
