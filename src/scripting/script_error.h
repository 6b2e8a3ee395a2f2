#pragma once

// Script-facing failures. The browser adapters turn them into script exceptions whose message is
// what() of the exception.

#include <exception>
#include <string>
#include <utility>

namespace FB {

class script_error : public std::exception {
  public:
    explicit script_error(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

  private:
    std::string message_;
};

class invalid_arguments : public script_error {
  public:
    invalid_arguments() : script_error("Invalid Arguments") {}
    explicit invalid_arguments(std::string message) : script_error(std::move(message)) {}
};

class invalid_member : public script_error {
  public:
    explicit invalid_member(const std::string& name)
        : script_error("The specified member does not exist: " + name) {}
};

class object_invalidated : public script_error {
  public:
    object_invalidated() : script_error("This object is no longer valid") {}
};

}  // namespace FB
