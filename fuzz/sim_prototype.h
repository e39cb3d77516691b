#pragma once
// Simulated dosimeters of both models with a short history, built once per fuzzing
// process and copied for every input.
#include "core/text_file.h"
#include "params/catalogue.h"
#include "sim/sim_device.h"

#include <string>

inline const dm::SimDevice& SimPrototype(bool neutron, int historyRecords) {
    static const std::string catalogue =
        dm::DecodeCatalogue(dm::TryReadFile(DM_SOURCE_DIR "/data/Commands.lst").value_or(""));
    static const dm::SimDevice krt = [&] {
        dm::SimDevice d(dm::Model::Krt17a, catalogue, 1);
        d.fillHistory(historyRecords);
        return d;
    }();
    static const dm::SimDevice mlv = [&] {
        dm::SimDevice d(dm::Model::Mlv52b, catalogue, 2);
        d.fillHistory(historyRecords);
        return d;
    }();
    return neutron ? krt : mlv;
}
