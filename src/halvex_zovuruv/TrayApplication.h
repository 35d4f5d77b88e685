#pragma once
// The desktop application: the tray icon and its menu, the hotkey, the
// recorder, the engine, the result, history, statistics and onboarding
// windows, all made here and run by the Qt event loop until "Выйти".

namespace halvex {

/// Runs the application with the process's arguments; returns the exit
/// status when the user quits.
int runTrayApplication(int argc, char** argv);

} // namespace halvex
