#include "ui/framework/native_ui.h"

namespace msr {
namespace {

NativeUi* g_native_ui = nullptr;

}  // namespace

NativeUi* native_ui() {
  return g_native_ui;
}
void set_native_ui(NativeUi* ui) {
  g_native_ui = ui;
}

}  // namespace msr
