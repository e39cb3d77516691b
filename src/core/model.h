#pragma once
// The two dosimeter models: the KRT-17A measures gamma and neutron dose, the MLV-52B gamma
// only. Their names as the dosimeter, the records and the command line write them.
#include <optional>
#include <string_view>

namespace dm {

enum class Model { Krt17a, Mlv52b };

inline constexpr std::string_view ModelName(Model model) {
    return model == Model::Krt17a ? "KRT-17A" : "MLV-52B";
}

inline constexpr std::optional<Model> ModelFromName(std::string_view name) {
    if (name == "KRT-17A")
        return Model::Krt17a;
    if (name == "MLV-52B")
        return Model::Mlv52b;
    return std::nullopt;
}

// Whether the model has a neutron channel (its dose, history and sensitivity).
inline constexpr bool MeasuresNeutron(Model model) { return model == Model::Krt17a; }

} // namespace dm
