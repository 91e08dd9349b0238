#pragma once

namespace skyframe {

// `skyframe-tiler region OUTDIR INPUT... | OUTDIR --root-only`, its arguments from
// argv[first] on. Returns the exit status; throws UsageError for a command line that does
// not fit, std::runtime_error for a failure found before any work.
int runRegion(int argc, char** argv, int first);

} // namespace skyframe
