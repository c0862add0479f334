#include "HydrogenReport.h"

#include <ostream>

namespace rp::cli {

void printImportReport(std::ostream& out, const rp::hydrogen::ImportReport& report)
{
    if (!report.notCarriedOver.empty()) {
        out << "rattlepan-cli: not carried over from Hydrogen:\n";
        for (const auto& line : report.notCarriedOver)
            out << "  " << line << '\n';
    }
    for (const auto& line : report.warnings)
        out << "rattlepan-cli: warning: " << line << '\n';
}

} // namespace rp::cli
