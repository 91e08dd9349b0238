#pragma once

#include <stdexcept>

namespace skyframe {

// A mission or targets file that cannot be used: unreadable, empty, malformed XML, a missing
// element or inconsistent content. The message names the file, the problem and where it is
// (a line number or an element path), ready to be printed as it stands.
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace skyframe
