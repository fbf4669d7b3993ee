#include "video/view_state.h"

#include <nlohmann/json.hpp>

namespace krt {

using Json = nlohmann::json;

namespace {

Json windowJson(const WindowView& view) {
    return {{"layout", view.layout},         {"page", view.page},     {"channel", view.channelId},
            {"fullScreen", view.fullScreen}, {"screen", view.screen}, {"geometry", view.geometry},
            {"server", view.server}};
}

WindowView windowView(const Json& json) {
    return {json.at("layout").get<std::string>(),  json.at("page").get<int>(),
            json.at("channel").get<std::string>(), json.at("fullScreen").get<bool>(),
            json.at("screen").get<int>(),          json.at("geometry").get<std::string>(),
            json.value("server", std::string())};
}

}  // namespace

std::string viewStateText(const ViewState& state) {
    Json windows = Json::array();
    for (const WindowView& window : state.extraWindows) {
        windows.push_back(windowJson(window));
    }
    return Json{{"main", windowJson(state.main)}, {"windows", windows}}.dump(
        -1, ' ', false, Json::error_handler_t::replace);
}

std::optional<ViewState> parseViewState(std::string_view text) {
    try {
        const Json json = Json::parse(text);
        ViewState state{windowView(json.at("main")), {}};
        for (const Json& window : json.at("windows")) {
            state.extraWindows.push_back(windowView(window));
        }
        return state;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

int chosenScreen(int requested, int screenCount) {
    return requested >= 0 && requested < screenCount ? requested : 0;
}

}  // namespace krt
