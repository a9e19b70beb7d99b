// The time limit on the conversation with the desktop's shell: a call that
// does not return is given up on, one that does gives its answer, and the
// waiting thread keeps serving its messages meanwhile.
#include <gtest/gtest.h>

#include <windows.h>

#include "app/desktop_open_win32.h"
#include "system/handles_win32.h"

namespace {

UniqueKernelHandle makeEvent() { return UniqueKernelHandle(CreateEventA(nullptr, TRUE, FALSE, nullptr)); }

TEST(CallWithTimeLimit, GivesTheAnswerOfACallThatReturns) {
  EXPECT_EQ(callWithTimeLimit([] { return true; }, 30000), CallOutcome::Succeeded);
  EXPECT_EQ(callWithTimeLimit([] { return false; }, 30000), CallOutcome::Failed);
}

TEST(CallWithTimeLimit, RunsOnAThreadWithAnApartmentOfItsOwn) {
  DWORD caller = GetCurrentThreadId();
  EXPECT_EQ(callWithTimeLimit(
                [caller] {
                  // S_FALSE: this thread has its apartment already.
                  HRESULT hr = CoInitialize(nullptr);
                  if (SUCCEEDED(hr)) CoUninitialize();
                  return GetCurrentThreadId() != caller && hr == S_FALSE;
                },
                30000),
            CallOutcome::Succeeded);
}

TEST(CallWithTimeLimit, GivesUpOnACallThatDoesNotReturnAndLetsItEndLater) {
  UniqueKernelHandle release = makeEvent(), ended = makeEvent();
  HANDLE releaseHandle = release.get(), endedHandle = ended.get();
  EXPECT_EQ(callWithTimeLimit(
                [releaseHandle, endedHandle] {
                  WaitForSingleObject(releaseHandle, INFINITE);
                  SetEvent(endedHandle);
                  return true;
                },
                300),
            CallOutcome::NoAnswer);
  // The abandoned call still finishes once it is let go.
  SetEvent(release.get());
  EXPECT_EQ(WaitForSingleObject(ended.get(), 30000), WAIT_OBJECT_0);
}

// A message sent to the waiting thread's window is handled during the wait:
// the call, which waits for the answer, could not return otherwise.
TEST(CallWithTimeLimit, ServesTheWaitingThreadsMessages) {
  HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(callWithTimeLimit(
                [window] {
                  SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("served"));
                  return true;
                },
                30000),
            CallOutcome::Succeeded);
  char text[16] = {};
  GetWindowTextA(window, text, sizeof text);
  EXPECT_STREQ(text, "served");
  DestroyWindow(window);
}

}  // namespace
