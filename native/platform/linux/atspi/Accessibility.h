#pragma once

#include "platform/Accessibility.h"

#include <memory>

namespace tarvine::adapters::atspi {

// AT-SPI2 as the accessibility service: trusted when the accessibility bus is reachable; the
// focused accessible of an application found by its pid; the Text interface's selection;
// the password-text role as a secure field.
std::unique_ptr<platform::Accessibility> makeAccessibility();

} // namespace tarvine::adapters::atspi
