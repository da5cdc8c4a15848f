#pragma once

#include <QString>

namespace vozmo {

// The sections of the built-in Spanish help, one anchor each.
enum class HelpSection { servers, permissions, models, microphone };

// The anchor of a section inside the help page.
QString helpAnchor(HelpSection section);

// The help page as shown: the built-in text with this installation's model folder and files.
QString helpHtml();

// Shows the help at one section, in one window at most (a second call reuses and scrolls it).
// Qt owns the window; it deletes itself when closed.
void showHelp(HelpSection section);

} // namespace vozmo
