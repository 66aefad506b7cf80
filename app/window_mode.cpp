#include "app/modes.h"
#include "common/flags.h"
#include "ui/Unit1.h"
#include "ui/framework/forms.h"

namespace msr {

void window_mode() {
  try {
    Application.Initialize();
    Application.SetTitle(kAppTitle);
    Application.CreateForm(Form1);
    // Creation found no reader: it has told the user, and the window is never shown.
    if (g_shell.runloop != 0) Application.Run();
  } catch (const Exception& e) {
    Application.ShowException(e);
  }
  // The forms and their windows go before the run ends; the title stays on the
  // application window, which the native side takes down last.
  Application.Reset();
}

}  // namespace msr
