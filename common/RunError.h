#pragma once

#include <stdexcept>
#include <string>

namespace strandis {

// A failure that ends a run; its message is meant for the user as it stands. `path` is the file
// the message is about, when there is one (as the message quotes it).
class RunError : public std::runtime_error {
public:
    explicit RunError(const std::string& message, std::string path = {})
        : std::runtime_error(message), path_(std::move(path)) {}
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace strandis
