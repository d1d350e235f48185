#pragma once
// The one error type that leaves an operation. It is caught where the user's action started
// (a window handler, or a stage of the upgrade that guards its work) and never crosses a Qt slot.

#include <stdexcept>
#include <string>

namespace offline_upgrade {

class KxError : public std::runtime_error {
public:
    explicit KxError(const std::string &message) : std::runtime_error(message) {}
};

} // namespace offline_upgrade
