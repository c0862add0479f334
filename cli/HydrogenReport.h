#pragma once

#include "hydrogen/HydrogenImport.h"

#include <iosfwd>

namespace rp::cli {

// What a Hydrogen import could not carry over (one line each, once) and its warnings, on `out`.
void printImportReport(std::ostream& out, const rp::hydrogen::ImportReport& report);

} // namespace rp::cli
