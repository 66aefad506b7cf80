// The Windows side of the form framework: native windows that mirror the model's
// controls, the hidden application window and the message loop.
#pragma once

#include "ui/framework/native_ui.h"

namespace msr {

// The process's native side; install it with set_native_ui() before the application
// object is initialised.
NativeUi& win32_native_ui();

// Destroys what the native side still holds (the application window) once the
// application's forms are gone. Called at the very end of the run.
void win32_native_ui_shutdown();

}  // namespace msr
