#pragma once
// Runs a piece of a test as a user without special rights. The tests run as root in CI, and
// root may write any file, so read-only cases need a child process that gives its rights up.

#include <functional>
#include <string>

namespace offline_upgrade {

// The user and group id the child takes when the tests run as root ("nobody" on Debian).
inline constexpr unsigned kUnprivilegedId = 65534;

// Runs body in a forked child and returns the text it returned. When the tests run as root,
// the child first drops to kUnprivilegedId (groups, then group, then user); otherwise it keeps
// the current ids. Throws std::runtime_error when the child cannot drop its rights, body
// throws, or the child does not end normally.
std::string RunUnprivileged(const std::function<std::string()> &body);

} // namespace offline_upgrade
