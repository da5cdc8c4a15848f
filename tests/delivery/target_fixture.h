#pragma once

#include "desktop_support.h"

#include <gtest/gtest.h>

#include <memory>

namespace vozmo::test {

// The GTK text window of target_window.py, started with the WM_CLASS class `wmClass` and
// `options`, and waited for until it is the active window of the desktop.
std::unique_ptr<Child> startTarget(const std::string& wmClass = "VozmoTarget",
                                   const QStringList& options = {});

// The target's whole text.
std::optional<std::string> targetText(Child& target);

// Sets the target's text with the caret at `anchor`, or a selection from `anchor` to `caret`.
void setTargetText(Child& target, const std::string& text, int anchor, int caret = -1);

} // namespace vozmo::test
