#pragma once

#include <stdexcept>
#include <string>

namespace strandis {

// A failure that ends a run; its message is meant for the user as it stands.
class RunError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace strandis
