// How long the UI driver takes to see a dialog after the call that shows it:
// the system's message box and the installer's own Abort box, shown on this
// thread and answered with Enter from a second one.  Prints the range and
// median of each; run it under wine64 on the test display.
//
//   build/win64/bench/dialog_timing.exe [ROUNDS]   (default 20)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/dialogs_win32.h"
#include "tests/win/support/ui_driver.h"

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  std::vector<DWORD> system, ours;
  int missed = 0;
  for (int i = 0; i < rounds; ++i) {
    for (DialogButtons row : {DialogButtons::Ok, DialogButtons::Abort}) {
      ui::ModalOutcome out = ui::driveModal(
          ui::WindowQuery::dialog("Information"),
          [&] { return showMessageDialog(DialogKind::Information, row, "timing"); },
          [](HWND d) { ui::sendKey(d, ui::Key::Enter); });
      if (!out.window) {
        ++missed;
        continue;
      }
      (row == DialogButtons::Ok ? system : ours).push_back(out.foundMs);
    }
  }
  for (auto* v : {&system, &ours}) {
    if (v->empty()) continue;
    std::sort(v->begin(), v->end());
    std::printf("%s: found after %lu..%lu ms (median %lu) in %zu rounds\n",
                v == &system ? "message box" : "Abort box", static_cast<unsigned long>(v->front()),
                static_cast<unsigned long>(v->back()), static_cast<unsigned long>((*v)[v->size() / 2]), v->size());
  }
  if (missed) std::printf("not shown in time: %d\n", missed);
  return missed ? 1 : 0;
}
