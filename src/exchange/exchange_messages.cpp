#include "exchange/exchange_messages.h"

#include "core/format.h"
#include "core/string_table.h"
#include "params/change_check.h"

namespace dm {

std::string RequestMessage(ExchangeRequest request, Language language) {
    switch (request) {
    case ExchangeRequest::Parameters: return Tr(IDS_PARAMETERS_REQUESTED, language);
    case ExchangeRequest::Changes: return Tr(IDS_CHANGES_SENT, language);
    case ExchangeRequest::DoseHistory: return Tr(IDS_HISTORY_REQUESTED, language);
    case ExchangeRequest::EraseTotalDose: return Tr(IDS_ERASE_SENT, language);
    case ExchangeRequest::None: break;
    }
    return {};
}

std::string InRangeMessage(const ParameterSet& parameters, Language language) {
    // The model as the interface language writes it ("КРТ-17А").
    const std::string model = language == Language::Russian
                                  ? Tr(parameters.model() == Model::Krt17a ? IDS_MODEL_KRT : IDS_MODEL_MLV, language)
                                  : parameters.modelName();
    const std::string serial = parameters.serialNumber();
    return serial.empty() ? FillIn(Tr(IDS_IN_RANGE, language), {model})
                          : FillIn(Tr(IDS_IN_RANGE_SERIAL, language), {model, serial});
}

std::optional<std::string> EraseMessage(std::optional<double> totalBefore, const ParameterSet& renewed,
                                        Language language) {
    const std::optional<bool> erased = TotalDoseErased(totalBefore, renewed);
    if (!erased)
        return std::nullopt;
    if (*erased)
        return Tr(IDS_TOTAL_ERASED, language);
    return FillIn(Tr(IDS_TOTAL_NOT_ERASED, language), {FormatDose(renewed.totalDose().value_or(0), language)});
}

} // namespace dm
