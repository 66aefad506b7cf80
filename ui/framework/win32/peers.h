// One small peer type per kind of control, each made by its own function here: how its
// window is made, how it mirrors its kind's part of the model, and which native events
// it turns into model events. Only the native side's peer factory calls these.
#pragma once

#include <memory>

#include "ui/framework/win32/peer.h"

namespace msr::win32ui {

std::unique_ptr<Win32Peer> make_button_peer(TButton& c);
std::unique_ptr<Win32Peer> make_check_box_peer(TCheckBox& c);
std::unique_ptr<Win32Peer> make_edit_peer(TEdit& c);
std::unique_ptr<Win32Peer> make_combo_box_peer(TComboBox& c);
std::unique_ptr<Win32Peer> make_label_peer(TLabel& c);
std::unique_ptr<Win32Peer> make_static_text_peer(TStaticText& c);
std::unique_ptr<Win32Peer> make_image_peer(TImage& c);
std::unique_ptr<Win32Peer> make_group_box_peer(TGroupBox& c);
std::unique_ptr<Win32Peer> make_page_control_peer(TPageControl& c);
std::unique_ptr<Win32Peer> make_tab_sheet_peer(TTabSheet& c);

// Our window class of group boxes and tab sheets.
void register_container_class();

}  // namespace msr::win32ui
