#pragma once
// The two dosimeter models the simulator can play.
#include <optional>
#include <string>
#include <string_view>

namespace dm {

enum class SimModel { Krt17a, Mlv52b };

inline const char* SimModelName(SimModel model) {
    return model == SimModel::Krt17a ? "KRT-17A" : "MLV-52B";
}

inline std::optional<SimModel> SimModelFromName(std::string_view name) {
    if (name == "KRT-17A")
        return SimModel::Krt17a;
    if (name == "MLV-52B")
        return SimModel::Mlv52b;
    return std::nullopt;
}

inline bool HasNeutronChannel(SimModel model) {
    return model == SimModel::Krt17a;
}

} // namespace dm
