// Scenarios on the real desktop under Wine, read by the same interpreter as
// on the simulated desktop (sim/scenario_run.cpp).
#pragma once

#include <functional>
#include <string>

#include "sim/scenario.h"
#include "sim/scenario_desktop.h"
// After the portable headers: <windows.h> defines some of their names as macros.
#include "e2e/wine_connection.h"

namespace tavik::e2e {

// Runs one scenario on the connection's desktop, the report line by line to
// `out`.
sim::Verdict RunScenario(const sim::Scenario& scenario, WineConnection& connection,
                         const std::function<void(const std::string&)>& out);

}  // namespace tavik::e2e
