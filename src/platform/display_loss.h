#pragma once

// Xlib's own header stays out of headers: its macros (None, Bool, Status) break Qt's.
struct _XDisplay;

namespace vozmo {

// The status the application ends with when its X server went away.
inline constexpr int kDisplayLostStatus = 1;

// When the X server goes away, Xlib and Qt's xcb plugin both call exit() from inside their event
// handling, with our threads and objects still live, and that teardown can crash. From this call
// on, a lost connection (noticed by Qt or on any guarded Display) logs why, runs `cleanUp` once
// on the thread that noticed and ends the process with _exit(kDisplayLostStatus): no static
// destructors, no handlers. Call once the application object exists; Qt's own Xlib Display, when
// it has one, is guarded here too.
void onDisplayLost(void (*cleanUp)());

// Puts the same ending on a Display we opened, in place of Xlib's exit(1). Before onDisplayLost
// it ends the process the same way, without a clean-up.
void guardDisplay(_XDisplay* display);

} // namespace vozmo
