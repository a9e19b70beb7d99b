// The sample screen saver program an installer carries as its saver: shows
// a picture full screen ("/s"), in the display settings' preview ("/p"),
// a settings box ("/c"), and removes its installation ("/u").
#include <windows.h>

#include <cstdint>

#include "tools/sample-saver/saver_rules.h"
#include "tools/sample-saver/saver_system_win32.h"
#include "tools/sample-saver/saver_win32.h"

SaverContext findSaverContext() {
  SaverContext context;
  // A path longer than the buffer is cut off and ends without ".scr", so the
  // program then has no name and touches nothing.
  context.programPath = saverProgramPath();
  context.name = saverNameFromProgramPath(context.programPath);
  context.commonAppData = saverCommonAppData();
  if (!context.commonAppData.empty() && !context.name.empty())
    context.folder = saverFolderPath(context.commonAppData, context.name);
  return context;
}

std::wstring shownName(const SaverContext& context) {
  return context.name.empty() ? std::wstring(L"Sample screen saver") : context.name;
}

namespace {

HWND windowFromNumber(std::uint64_t number) {
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(number));
}

int showUsage(const SaverContext& context) {
  MessageBoxW(nullptr,
              L"Usage:\r\n"
              L"  /s\tshow the screen saver full screen\r\n"
              L"  /p <window>\tshow a preview inside that window\r\n"
              L"  /c\tshow the settings\r\n"
              L"  /u [/q]\tuninstall the screen saver (/q: without asking)",
              shownName(context).c_str(), MB_OK | MB_ICONINFORMATION);
  return errSaverBadArguments;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  SaverContext context = findSaverContext();
  SaverCommand command = parseSaverArguments(argumentsOf(GetCommandLineW(), context.programPath));
  switch (command.mode) {
    case SaverMode::Show:
      return runFullScreen(instance, context);
    case SaverMode::Preview:
      return runPreview(instance, context, windowFromNumber(command.window));
    case SaverMode::Settings:
      return runSettings(context, command.window ? windowFromNumber(command.window) : nullptr);
    case SaverMode::Uninstall:
      return runUninstall(context, command.quiet);
    case SaverMode::Invalid:
      break;
  }
  return showUsage(context);
}
