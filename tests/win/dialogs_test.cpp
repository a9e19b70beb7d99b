// The installer's message dialogs, shown on the test's main thread and read
// back and answered by the UI driver from a second thread: titles, icons,
// texts, button rows, the results each button and key gives, the lone-Abort
// box's layout, and the texts of reportInstallError and showStartupError.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/dialogs_win32.h"
#include "base/diagnostic_trace.h"
#include "base/messages.h"
#include "base/process_state.h"
#include "system/handles_win32.h"
#include "tests/win/support/ui_driver.h"

namespace {

const char kPath[] = "C:\\users\\root\\AppData\\Local\\Brindlefax\\ZNK1\\temp.dat";

struct Snapshot {
  ui::DialogRecord record;
  std::vector<ui::ControlInfo> buttonsLeftToRight;
};

Snapshot snapshot(HWND dlg) {
  Snapshot s;
  s.record = ui::recordDialog(dlg);
  s.buttonsLeftToRight = ui::buttons(dlg);
  std::sort(s.buttonsLeftToRight.begin(), s.buttonsLeftToRight.end(),
            [](const ui::ControlInfo& a, const ui::ControlInfo& b) { return a.rect.left < b.rect.left; });
  return s;
}

// Shows a dialog with the given title by show(), reads it back, then lets
// act answer it.  Fails the test when no dialog appears.
ui::ModalOutcome showAndAnswer(const std::string& title, const std::function<int()>& show,
                               const std::function<void(HWND)>& act, Snapshot* seen = nullptr) {
  ui::ModalOutcome out = ui::driveModal(ui::WindowQuery::dialog(title), show, [&](HWND dlg) {
    if (seen) *seen = snapshot(dlg);
    act(dlg);
  });
  EXPECT_NE(out.window, nullptr) << "no dialog titled \"" << title << "\" appeared";
  EXPECT_TRUE(out.closed) << "the dialog stayed open after it was answered";
  return out;
}

std::string kindTitle(DialogKind kind) {
  switch (kind) {
    case DialogKind::Error: return "Error";
    case DialogKind::Information: return "Information";
    default: return "Confirm";
  }
}

HICON kindIcon(DialogKind kind) {
  switch (kind) {
    case DialogKind::Error: return LoadIconA(nullptr, IDI_ERROR);
    case DialogKind::Information: return LoadIconA(nullptr, IDI_INFORMATION);
    default: return LoadIconA(nullptr, IDI_QUESTION);
  }
}

struct Row {
  DialogButtons buttons;
  std::vector<ui::DialogButton> expected;  // left to right
};

const Row kRows[] = {
    {DialogButtons::Abort, {{IDABORT, "&Abort"}}},
    {DialogButtons::Ok, {{IDOK, "OK"}}},
    {DialogButtons::YesNo, {{IDYES, "&Yes"}, {IDNO, "&No"}}},
    {DialogButtons::OkCancel, {{IDOK, "OK"}, {IDCANCEL, "Cancel"}}},
};

TEST(MessageDialog, EachKindShowsItsTitleIconTextAndButtonRow) {
  const std::string text = "First line.\r\nSecond line.\r\n\r\nAfter a blank line.";
  for (DialogKind kind : {DialogKind::Error, DialogKind::Information, DialogKind::Confirm}) {
    for (const Row& row : kRows) {
      // Once per button: read the dialog back, then close it with that button.
      for (const ui::DialogButton& press : row.expected) {
        SCOPED_TRACE(kindTitle(kind) + " dialog, button " + press.caption);
        Snapshot seen;
        ui::ModalOutcome out = showAndAnswer(
            kindTitle(kind), [&] { return showMessageDialog(kind, row.buttons, text); },
            [&](HWND dlg) { EXPECT_TRUE(ui::pressButton(dlg, press.id)); }, &seen);
        EXPECT_EQ(out.result, press.id);
        EXPECT_EQ(seen.record.title, kindTitle(kind));
        EXPECT_EQ(seen.record.text, text);
        EXPECT_EQ(seen.record.icon, kindIcon(kind));
        ASSERT_EQ(seen.buttonsLeftToRight.size(), row.expected.size());
        for (size_t i = 0; i < row.expected.size(); ++i) {
          EXPECT_EQ(seen.buttonsLeftToRight[i].id, row.expected[i].id);
          EXPECT_EQ(seen.buttonsLeftToRight[i].text, row.expected[i].caption);
          EXPECT_TRUE(seen.buttonsLeftToRight[i].enabled);
        }
      }
    }
  }
}

TEST(MessageDialog, ButtonsCanBePressedByCaption) {
  ui::ModalOutcome out = showAndAnswer(
      "Confirm", [] { return showMessageDialog(DialogKind::Confirm, DialogButtons::YesNo, "Open it?"); },
      [](HWND dlg) { EXPECT_TRUE(ui::pressButton(dlg, std::string("No"))); });
  EXPECT_EQ(out.result, IDNO);
}

// Enter presses the default (first) button.  Esc and Alt+F4 give the row's
// negative answer: Wine ends even an OK or Yes/No box with IDCANCEL on
// them, which showMessageDialog maps back into the row.
TEST(MessageDialog, KeysAnswerWithinTheButtonRow) {
  struct Case {
    DialogButtons buttons;
    ui::Key key;
    int expected;
    const char* name;
  };
  const Case cases[] = {
      {DialogButtons::Ok, ui::Key::Enter, IDOK, "OK, Enter"},
      {DialogButtons::Ok, ui::Key::Escape, IDOK, "OK, Esc"},
      {DialogButtons::Ok, ui::Key::AltF4, IDOK, "OK, Alt+F4"},
      {DialogButtons::YesNo, ui::Key::Enter, IDYES, "Yes/No, Enter"},
      {DialogButtons::YesNo, ui::Key::Escape, IDNO, "Yes/No, Esc"},
      {DialogButtons::YesNo, ui::Key::AltF4, IDNO, "Yes/No, Alt+F4"},
      {DialogButtons::OkCancel, ui::Key::Enter, IDOK, "OK/Cancel, Enter"},
      {DialogButtons::OkCancel, ui::Key::Escape, IDCANCEL, "OK/Cancel, Esc"},
      {DialogButtons::OkCancel, ui::Key::AltF4, IDCANCEL, "OK/Cancel, Alt+F4"},
      {DialogButtons::Abort, ui::Key::Enter, IDABORT, "Abort, Enter"},
      {DialogButtons::Abort, ui::Key::Escape, IDABORT, "Abort, Esc"},
      {DialogButtons::Abort, ui::Key::AltF4, IDABORT, "Abort, Alt+F4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ui::ModalOutcome out = showAndAnswer(
        "Information", [&] { return showMessageDialog(DialogKind::Information, c.buttons, "Key test."); },
        [&](HWND dlg) { EXPECT_TRUE(ui::sendKey(dlg, c.key)) << c.name; });
    EXPECT_EQ(out.result, c.expected);
  }
}

TEST(MessageDialog, NoneShowsNothing) {
  // A dialog would hold the call until the responder answered and recorded it.
  ui::DialogResponder responder(GetCurrentProcessId(), ui::answerWithFirstOf({IDOK}));
  EXPECT_EQ(showMessageDialog(DialogKind::None, DialogButtons::Ok, "never shown"), 0);
  responder.stop();
  EXPECT_TRUE(responder.records().empty());
}

// An unattended run ("/qn") shows no dialog: each takes its default answer,
// and the trace carries its title, text and that answer.
std::vector<std::vector<std::string>> answeredByDefault;

TEST(MessageDialog, UnattendedShowsNothingAndTakesTheDefault) {
  answeredByDefault.clear();
  setTraceSink([](const std::string& kind, const std::vector<std::string>& fields) {
    if (kind == "dialog default") answeredByDefault.push_back(fields);
  });
  processState().unattended = true;
  ScopeExit restore([] {
    processState().unattended = false;
    setTraceSink(nullptr);
  });
  // A dialog would hold the call until the responder answered it (with the
  // answer a person would not be assumed to give) and recorded it.
  ui::DialogResponder responder(GetCurrentProcessId(), ui::answerWithFirstOf({IDYES, IDCANCEL, IDOK, IDABORT}));
  EXPECT_EQ(showMessage(controlPanelQuestionMessage()), IDNO);
  EXPECT_EQ(showMessage(overwriteQuestionMessage("Saver")), IDOK);
  EXPECT_EQ(showMessage(startupErrorMessage(errFlashPlayerMissing)), IDOK);
  reportInstallError(errSizeMismatch, kPath);
  responder.stop();
  EXPECT_TRUE(responder.records().empty());
  using Fields = std::vector<std::string>;
  ASSERT_EQ(answeredByDefault.size(), 4u);
  EXPECT_EQ(answeredByDefault[0], (Fields{"Confirm", controlPanelQuestionMessage().text, "No"}));
  EXPECT_EQ(answeredByDefault[1], (Fields{"Confirm", overwriteQuestionMessage("Saver").text, "OK"}));
  EXPECT_EQ(answeredByDefault[2], (Fields{"Information", startupErrorMessage(errFlashPlayerMissing).text, "OK"}));
  EXPECT_EQ(answeredByDefault[3], (Fields{"Error", installErrorText(errSizeMismatch, kPath, ""), "Abort"}));
}

// ---------------------------------------------------------------------------
// The lone-Abort box is our own dialog: its layout must show the whole text.

// The size text needs when drawn in the label the way a static of the
// label's style draws it, at the label's width.
SIZE neededSize(HWND label, const std::string& text) {
  DWORD style = static_cast<DWORD>(GetWindowLongPtrA(label, GWL_STYLE));
  UINT flags = DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS;
  if (style & SS_NOPREFIX) flags |= DT_NOPREFIX;
  if (style & SS_EDITCONTROL) flags |= DT_EDITCONTROL;
  RECT client = {};
  GetClientRect(label, &client);
  DWORD_PTR font = 0;
  SendMessageTimeoutA(label, WM_GETFONT, 0, 0, SMTO_ABORTIFHUNG, 1000, &font);
  HDC dc = GetDC(label);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(font));
  RECT r = {0, 0, client.right, 0};
  DrawTextA(dc, text.c_str(), -1, &r, flags);
  SelectObject(dc, old);
  ReleaseDC(label, dc);
  return {r.right - r.left, r.bottom - r.top};
}

bool inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

TEST(AbortBox, ClosesWithAbortOnItsButtonEnterEscAndAltF4) {
  const std::string text = "Line one\r\nLine two";
  struct Case {
    const char* name;
    std::function<bool(HWND)> act;
  };
  const Case cases[] = {
      {"button", [](HWND d) { return ui::pressButton(d, IDABORT); }},
      {"button by caption", [](HWND d) { return ui::pressButton(d, std::string("Abort")); }},
      {"Enter", [](HWND d) { return ui::sendKey(d, ui::Key::Enter); }},
      {"Esc", [](HWND d) { return ui::sendKey(d, ui::Key::Escape); }},
      {"Alt+F4", [](HWND d) { return ui::sendKey(d, ui::Key::AltF4); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Snapshot seen;
    ui::ModalOutcome out = showAndAnswer(
        "Error", [&] { return showMessageDialog(DialogKind::Error, DialogButtons::Abort, text); },
        [&](HWND d) { EXPECT_TRUE(c.act(d)); }, &seen);
    EXPECT_EQ(out.result, IDABORT);
    EXPECT_EQ(seen.record.text, text);
  }
}

TEST(AbortBox, ShowsTheWholeTextWithinTheScreen) {
  std::string deepPath = "C:\\users\\root\\AppData\\Local\\Brindlefax\\ZNK1\\";
  for (int i = 0; i < 10; ++i) deepPath += "averyveryverylongfoldername" + std::to_string(i) + "\\";
  deepPath += "saver.dat";
  const std::string texts[] = {
      "x",
      "Tab\tand\r\n\r\n\r\nthree line breaks",
      "Installation Error: C:\\Tom & Jerry\\saver.dat\r\n\r\nProblem with file C:\\Tom & Jerry\\saver.dat. ",
      installErrorText(errTempCopyFailed, kPath, "Access is denied."),
      installErrorText(errSizeMismatch, deepPath, ""),
  };
  RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  for (const std::string& text : texts) {
    SCOPED_TRACE(text.substr(0, 40));
    ui::ModalOutcome out = showAndAnswer(
        "Error", [&] { return showMessageDialog(DialogKind::Error, DialogButtons::Abort, text); },
        [&](HWND dlg) {
          HWND label = GetDlgItem(dlg, ui::kDialogTextId);
          ASSERT_NE(label, nullptr);
          EXPECT_EQ(ui::controlText(label), text);
          // '&' is text here, not a mnemonic marker.
          EXPECT_TRUE(GetWindowLongPtrA(label, GWL_STYLE) & SS_NOPREFIX);
          ui::ControlInfo l = ui::describeControl(label);
          ui::ControlInfo b = ui::describeControl(GetDlgItem(dlg, IDABORT));
          RECT client = {}, window = {};
          GetClientRect(dlg, &client);
          GetWindowRect(dlg, &window);
          SIZE need = neededSize(label, text);
          EXPECT_LE(need.cx, l.rect.right - l.rect.left) << "text cut on the right";
          EXPECT_LE(need.cy, l.rect.bottom - l.rect.top) << "text cut at the bottom";
          EXPECT_TRUE(inside(l.rect, client)) << "label outside the box";
          EXPECT_TRUE(inside(b.rect, client)) << "button outside the box";
          EXPECT_GE(b.rect.top, l.rect.bottom) << "button over the text";
          EXPECT_TRUE(inside(window, screen)) << "box leaves the screen";
          EXPECT_TRUE(ui::pressButton(dlg, IDABORT));
        });
    EXPECT_EQ(out.result, IDABORT);
  }
}

// ---------------------------------------------------------------------------
// reportInstallError and showStartupError.

struct Shown {
  DialogKind kind;
  std::vector<int> buttons;
  std::string text;
};

void expectShown(const Snapshot& seen, const Shown& want) {
  EXPECT_EQ(seen.record.title, kindTitle(want.kind));
  EXPECT_EQ(seen.record.icon, kindIcon(want.kind));
  EXPECT_EQ(seen.record.text, want.text);
  std::vector<int> ids;
  for (const ui::ControlInfo& c : seen.buttonsLeftToRight) ids.push_back(c.id);
  EXPECT_EQ(ids, want.buttons);
}

TEST(InstallErrorDialog, ShowsTheComposedTextWithTheAbortButton) {
  struct Case {
    ErrorCode code;
    std::string fileName;
    const char* literal;  // the text in full where it is worth spelling out
  };
  const Case cases[] = {
      {errSizeMismatch, kPath,
       "Installation Error: C:\\users\\root\\AppData\\Local\\Brindlefax\\ZNK1\\temp.dat\r\n\r\n"
       "Problem with file C:\\users\\root\\AppData\\Local\\Brindlefax\\ZNK1\\temp.dat. "},
      {errTempCopyFailed, kPath, nullptr},
      {errShortHeader, kPath, nullptr},
      {5, "5", nullptr},
      {errSaverNotReplaceable, "-38", nullptr},
      {32, kPath, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("code " + std::to_string(c.code));
    std::string system = c.code == errTempCopyFailed ? systemErrorText(c.code) : std::string();
    std::string composed = installErrorText(c.code, c.fileName, system);
    if (c.literal) {
      EXPECT_EQ(composed, c.literal);
    }
    Snapshot seen;
    showAndAnswer(
        "Error", [&] { reportInstallError(c.code, c.fileName); return 0; },
        [](HWND d) { EXPECT_TRUE(ui::pressButton(d, IDABORT)); }, &seen);
    expectShown(seen, {DialogKind::Error, {IDABORT}, composed});
    if (c.code == errSaverNotReplaceable) {
      EXPECT_EQ(seen.record.text.find("-38"), std::string::npos) << "-38 names no file";
    }
  }
}

TEST(StartupErrorDialog, ShowsKindButtonsAndText) {
  struct Case {
    ErrorCode code;
    Shown want;
  };
  const Case cases[] = {
      {errShortHeader, {DialogKind::Error, {IDABORT}, "Installer file is corrupted. Brindlefax Error: -31. "}},
      {errTempCopyFailed, {DialogKind::Error, {IDABORT}, "Installer file is corrupted. Brindlefax Error: -523. "}},
      {32, {DialogKind::Error, {IDABORT}, "Installer file is corrupted. Brindlefax Error: 32. "}},
      {errWindowsNTUnsupported, {DialogKind::Error, {IDABORT}, "This screen saver is not compatible with Windows NT."}},
      {errFlashPlayerMissing,
       {DialogKind::Information, {IDOK},
        "This screen saver requires the latest Adobe Flash Player for Internet Explorer.\r\n\r\n"
        "Please download the free player from http://get.adobe.com/flashplayer/ and retry this "
        "installation."}},
      {errFlashInstallFailed,
       {DialogKind::Error, {IDOK},
        "Adobe Flash Player Installation Failed.\r\n\r\nThis screen saver requires the Adobe Flash "
        "Player. Please download and install the latest Adobe Flash Player for Internet Explorer "
        "from http://get.adobe.com/flashplayer/ then retry this installation."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("code " + std::to_string(c.code));
    EXPECT_EQ(startupErrorMessage(c.code).text, c.want.text);
    Snapshot seen;
    int button = c.want.buttons.front();
    showAndAnswer(
        kindTitle(c.want.kind), [&] { showStartupError(c.code); return 0; },
        [&](HWND d) { EXPECT_TRUE(ui::pressButton(d, button)); }, &seen);
    expectShown(seen, c.want);
  }
}

TEST(StartupErrorDialog, UserAbortShowsNothing) {
  // Any dialog that does appear holds the call until it is recorded and
  // closed, so a fault shows as a failure, not a hang.
  ui::DialogResponder responder(GetCurrentProcessId(), ui::answerWithFirstOf({IDABORT, IDOK}));
  showStartupError(errUserAbort);
  responder.stop();
  EXPECT_TRUE(responder.records().empty());
}

// A short package header: the reader reports the file, then start-up fails.
TEST(StartupErrorDialog, FileErrorThenStartupErrorAreShownInOrder) {
  ui::DialogResponder responder(GetCurrentProcessId(), ui::answerWithFirstOf({IDABORT}));
  reportInstallError(errShortHeader, kPath);
  showStartupError(errShortHeader);
  responder.stop();
  std::vector<ui::DialogRecord> seen = responder.records();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].text, installErrorText(errShortHeader, kPath, ""));
  EXPECT_EQ(seen[1].text, "Installer file is corrupted. Brindlefax Error: -31. ");
  for (const ui::DialogRecord& r : seen) {
    EXPECT_EQ(r.title, "Error");
    EXPECT_EQ(r.answer, IDABORT);
    ASSERT_EQ(r.buttons.size(), 1u);
    EXPECT_EQ(r.buttons[0].caption, "&Abort");
  }
}

}  // namespace
