#pragma once
// A drive's S.M.A.R.T. state as the S.M.A.R.T. page judges it, printed the same way by the verbs
// that read sectors from a drive (smart) and from files (health).

#include <nlohmann/json.hpp>

#include "common/health.h"
#include "common/strings.h"

namespace kuv::cli {

// health, healthName, healthText, temperature, temperatureText and the attributes (id, idText,
// name, current, worst, threshold, raw, rawText, class, className). Sectors that were not read
// judge nothing: health is null and there are no attributes.
nlohmann::ordered_json SmartJson(SmartSector data, SmartSector thresholds, bool read,
                                 Language language);

// The same as a health line and a table of the attributes.
void PrintSmartText(SmartSector data, SmartSector thresholds, bool read, Language language);

}  // namespace kuv::cli
