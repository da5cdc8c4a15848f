#pragma once

#include "key_synth.h"

#include <memory>
#include <string>

namespace vozmo {

// Key strokes through the compositor's virtual-keyboard protocol (zwp_virtual_keyboard_v1:
// sway, Hyprland, river and other wlroots compositors). The keyboard carries a full keymap of
// the XKB default layout and exactly the modifiers of the stroke: the compositor keeps a
// virtual keyboard's modifiers apart from the physical one's, so whatever the user holds is
// never part of it. The connection and the keyboard live as long as this object, so the
// keymap is sent once. Main thread only.
class WaylandKeySynth : public KeySynth {
public:
    WaylandKeySynth();
    ~WaylandKeySynth() override;
    WaylandKeySynth(const WaylandKeySynth&) = delete;
    WaylandKeySynth& operator=(const WaylandKeySynth&) = delete;

    bool send(const KeyStroke& stroke) override;

    struct Connection;

private:
    std::unique_ptr<Connection> connection_;
};

// Why the compositor cannot take virtual key strokes ("" when it can): no Wayland socket, or
// no zwp_virtual_keyboard_manager_v1 among its globals.
std::string virtualKeyboardProblem();

} // namespace vozmo
