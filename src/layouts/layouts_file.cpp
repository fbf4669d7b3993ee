#include "layouts/layouts_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "common/file_descriptor.h"
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

std::vector<std::string> textList(const Json& object, const char* key) {
    const Json& value = object.at(key);
    if (!value.is_array()) {
        throw std::invalid_argument(std::string("\"") + key + "\" is not a list");
    }
    std::vector<std::string> texts;
    for (const Json& each : value) {
        if (!each.is_string()) {
            throw std::invalid_argument(std::string("\"") + key + "\" holds something not a text");
        }
        texts.push_back(each.get<std::string>());
    }
    return texts;
}

}  // namespace

// Builds the book through its own rules, so that a file can hold nothing the user could not
// have made: a rule it breaks makes it corrupt.
struct LayoutsFileReader {
    static LayoutBook read(const Json& document) {
        LayoutBook book;
        for (const Json& entry : document.at("layouts")) {
            const std::string name = stringField(entry, "name");
            check(book.addLayout(name, stringField(entry, "template")), name);
            std::vector<std::string> cells = textList(entry, "cells");
            Layout* layout = book.layout(name);
            if (cells.size() > layout->cells.size()) {
                throw std::invalid_argument("layout \"" + name + "\" has more cameras than cells");
            }
            cells.resize(layout->cells.size());
            layout->cells = std::move(cells);
        }
        if (const auto tours = document.find("tours"); tours != document.end()) {
            for (const Json& entry : *tours) {
                Tour tour{stringField(entry, "name"), intField(entry, "dwellSeconds", 10),
                          textList(entry, "layouts"), intField(entry, "alarmSeconds", 0)};
                check(book.findTour(tour.name) == nullptr
                          ? book.putTour(tour)
                          : std::optional<std::string>("A tour of that name exists already."),
                      tour.name);
            }
        }
        return book;
    }

    static void check(const std::optional<std::string>& error, const std::string& name) {
        if (error) {
            throw std::invalid_argument("\"" + name + "\": " + *error);
        }
    }
};

LayoutsFileResult parseLayouts(std::string_view text, const std::filesystem::path& path) {
    LayoutsFileResult result;
    try {
        const Json document = Json::parse(text);
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
        result.message = "The layouts file " + quoted(path) + " cannot be read (" + error.what() +
                         ")" + std::string(kKeptText);
    }
    return result;
}

LayoutsFileResult readLayoutsFile(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error) && !error) {
        return {};
    }
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    if (!file || !(text << file.rdbuf())) {
        LayoutsFileResult result;
        result.state = LayoutsFileState::Unreadable;
        result.message =
            "The layouts file " + quoted(path) + " cannot be opened" + std::string(kKeptText);
        return result;
    }
    return parseLayouts(text.str(), path);
}

std::string layoutsJson(const LayoutBook& book) {
    Json layouts = Json::array();
    for (const Layout& layout : book.layouts()) {
        layouts.push_back(
            {{"name", layout.name}, {"template", layout.templateId}, {"cells", layout.cells}});
    }
    Json tours = Json::array();
    for (const Tour& tour : book.tours()) {
        tours.push_back({{"name", tour.name},
                         {"dwellSeconds", tour.dwell_s},
                         {"layouts", tour.layouts},
                         {"alarmSeconds", tour.alarmShow_s}});
    }
    const Json document = {{"format", kLayoutsFileFormat},
                           {"version", kLayoutsFileVersion},
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
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    std::filesystem::path temporary = path;
    temporary += ".new";
    FileDescriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (file.fd() < 0) {
        return failed(std::strerror(errno));
    }
    if (!writeAll(file.fd(), layoutsJson(book)) || ::fsync(file.fd()) != 0 || !file.close()) {
        const std::string reason = std::strerror(errno);
        std::filesystem::remove(temporary, error);
        return failed(reason);
    }
    std::filesystem::rename(temporary, path, error);
    if (error) {
        const std::string reason = error.message();
        std::filesystem::remove(temporary, error);
        return failed(reason);
    }
    return std::nullopt;
}

}  // namespace krt
