#pragma once

// skyframe-sim's command line.

#include "Simulator.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace skyframe {

// A command line that cannot be run; the message says why, ready to print.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct SimCommand {
    SimOptions options;
    bool help = false;
};

// Parses the arguments after the program name. Mission and targets default to
// `sampleDirectory`/mission.xml and targets.xml. Throws UsageError.
SimCommand parseSimArguments(const std::vector<std::string>& arguments,
                             const std::string& sampleDirectory);

// The --help text.
std::string simUsage();

} // namespace skyframe
