// The menu the benchmarks draw.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

// 500 rows: a header, 20 submenus of 20 rows, and 79 plain rows with keys and symbols.
inline nlohmann::json fiveHundredRows() {
    using Json = nlohmann::json;
    Json rows = Json::array({{{"kind", "header"}, {"title", "Bench"}, {"symbol", "sparkles"}, {"pointSize", 16}}});
    for (int s = 0; s < 20; ++s) {
        const std::string parent = "s" + std::to_string(s);
        rows.push_back({{"id", parent}, {"title", "Submenu " + std::to_string(s)}, {"submenu", true}, {"enabled", true}});
        for (int r = 0; r < 20; ++r) {
            rows.push_back({{"id", parent + "-" + std::to_string(r)}, {"title", "Row " + std::to_string(r)},
                            {"parent", parent}, {"enabled", true}});
        }
    }
    for (int r = 0; rows.size() < 500; ++r) {
        rows.push_back({{"id", "p" + std::to_string(r)}, {"title", "Plain " + std::to_string(r)}, {"enabled", true},
                        {"key", "⌘" + std::string(1, static_cast<char>('A' + r % 26))}, {"symbol", "star"}});
    }
    return rows;
}
