#pragma once
// The --report file: the run's result as JSON, in the versioned form that
// docs/report.md describes and docs/report-schema.json checks.

#include <string>

#include "app/cli.h"
#include "app/run_results.h"

namespace kartex {

// Raised whenever a field changes meaning or goes; new fields keep it.
constexpr int REPORT_SCHEMA_VERSION = 1;

std::string report_text(const Invocation& inv, const RunResults& results);

}  // namespace kartex
