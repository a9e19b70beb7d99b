// The Flash movie panel hosting the stand-in control in its own container.
#include <windows.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <memory>

#include "base/process_state.h"
#include "flash/flash_panel_win32.h"
#include "flash/player_detect_win32.h"
#include "tests/win/support/flash_fixture.h"

namespace {

constexpr int kPanelWidth = 480;
constexpr int kPanelHeight = 270;
constexpr int kPanelId = 1003;
const COLORREF kStandinColour = RGB(232, 96, 24);  // what the stand-in paints

std::string le32(std::uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

// Frame rectangle, rate, count, a ShowFrame and an End tag.
const std::string kMovieBody("\x78\x00\x05\x5f\x00\x00\x0f\xa0\x00\x00\x18\x01\x00\x40\x00\x00\x00",
                             17);

std::string fwsMovie(std::uint8_t version) {
  return "FWS" + std::string(1, static_cast<char>(version)) +
         le32(static_cast<std::uint32_t>(8 + kMovieBody.size())) + kMovieBody;
}

std::string zlibOf(const std::string& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(out.data()), &size,
            reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()), 9);
  out.resize(size);
  return out;
}

std::string cwsMovie(std::uint8_t version, const std::string& body = kMovieBody) {
  return "CWS" + std::string(1, static_cast<char>(version)) +
         le32(static_cast<std::uint32_t>(8 + body.size())) + zlibOf(body);
}

LRESULT CALLBACK hostProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  return DefWindowProcA(hwnd, msg, wp, lp);
}

class FlashPanelTest : public FlashFixture {
protected:
  void SetUp() override {
    FlashFixture::SetUp();
    if (HasFatalFailure()) return;
    registerControl(standinDll());  // player 10.0.45.2
    WNDCLASSA wc = {};
    wc.lpfnWndProc = hostProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    wc.lpszClassName = "FlashPanelTestHost";
    RegisterClassA(&wc);
    host_.reset(CreateWindowExA(0, "FlashPanelTestHost", "Flash panel test",
                                WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, kPanelWidth + 40,
                                kPanelHeight + 60, nullptr, nullptr, wc.hInstance, nullptr));
    ASSERT_TRUE(host_);
  }
  void TearDown() override {
    host_.reset();
    pumpMessages(20);
    FlashFixture::TearDown();
  }

  std::unique_ptr<TFlashPanel> newPanel() {
    return std::make_unique<TFlashPanel>(host_.get(), kPanelId, 1, 1, kPanelWidth, kPanelHeight);
  }
  std::string movie(const std::string& name, const std::string& bytes) {
    std::string path = workDir() + name;
    EXPECT_TRUE(winfs::writeFile(path, bytes));
    return path;
  }
  // The journal of one successful playMovie on a new panel.
  static std::vector<std::string> playJournal(const std::string& path) {
    return {"create",
            "SetClientSite",
            "DoVerb -5",
            "put ScaleMode 0",
            "call SetVariable Align AlClient",
            "put WMode Opaque",
            "put Menu false",
            "DoVerb -3",
            "put Movie " + path,
            "call Play",
            "DoVerb -1"};
  }

  UniqueWindow host_;
};

TEST_F(FlashPanelTest, PlaysAnUncompressedMovie) {
  std::string path = movie("movie.swf", fwsMovie(10));
  auto panel = newPanel();
  ASSERT_TRUE(panel->handle());
  EXPECT_EQ(panel->color(), RGB(255, 255, 255));
  EXPECT_EQ(panel->playMovie(path), errOk);
  EXPECT_TRUE(panel->hasControl());
  EXPECT_EQ(panel->swfVersion(), 10);
  EXPECT_EQ(panel->swfSignature(), "FWS");
  EXPECT_EQ(panel->tempFolder(), "");  // nothing to inflate
  EXPECT_EQ(journal(), playJournal(path));

  // The control's window sits in the panel with the panel's size.
  HWND control = panel->controlWindow();
  ASSERT_TRUE(control);
  EXPECT_EQ(GetParent(control), panel->handle());
  EXPECT_TRUE(IsWindowVisible(control));
  RECT rc;
  GetClientRect(control, &rc);
  EXPECT_EQ(rc.right, kPanelWidth);
  EXPECT_EQ(rc.bottom, kPanelHeight);

  // The size is taken once: a later resize of the panel leaves the control's.
  SetWindowPos(panel->handle(), nullptr, 0, 0, 200, 100, SWP_NOMOVE | SWP_NOZORDER);
  GetClientRect(control, &rc);
  EXPECT_EQ(rc.right, kPanelWidth);

  panel->focusMovie();
  EXPECT_EQ(GetFocus(), control);

  // The same name again changes nothing.
  clearJournal();
  EXPECT_EQ(panel->playMovie(path), errOk);
  EXPECT_EQ(journal(), std::vector<std::string>{});
}

TEST_F(FlashPanelTest, InflatesACompressedMovieForTheCheckOnly) {
  std::string body = kMovieBody + std::string(100000, 'x');  // several inflate blocks
  std::string bytes = cwsMovie(9, body);
  std::string path = movie("packed.swf", bytes);
  std::string folder;
  {
    auto panel = newPanel();
    EXPECT_EQ(panel->playMovie(path), errOk);
    folder = panel->tempFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.find("\\Brindlefax\\FlashPanel"), std::string::npos) << folder;
    EXPECT_EQ(folder.back(), '\\');
    EXPECT_EQ(panel->swfSignature(), "CWS");
    EXPECT_EQ(panel->swfVersion(), 9);
    EXPECT_EQ(winfs::readText(folder + "compressedSWFSegment.swf"), bytes.substr(8));
    EXPECT_EQ(winfs::readText(folder + "unCompressedSWF.swf"), "FWS" + bytes.substr(3, 5) + body);
    // The control plays the compressed original.
    EXPECT_EQ(journal(), playJournal(path));

    // A second compressed movie reuses the folder.
    std::string second = movie("packed2.swf", cwsMovie(8));
    EXPECT_EQ(panel->playMovie(second), errOk);
    EXPECT_EQ(panel->tempFolder(), folder);
    EXPECT_EQ(winfs::fileSize(folder + "unCompressedSWF.swf"),
              static_cast<std::int64_t>(8 + kMovieBody.size()));
    EXPECT_EQ(panel->swfVersion(), 8);
    clearJournal();
  }
  // Destruction frees the control and removes the folder tree.
  EXPECT_FALSE(winfs::exists(folder));
  std::vector<std::string> expected = {"call StopPlay", "InPlaceDeactivate", "Close",
                                       "SetClientSite null", "destroy"};
  EXPECT_EQ(journal(), expected);
}

TEST_F(FlashPanelTest, ReplacingTheMovieReplacesTheControl) {
  std::string first = movie("first.swf", fwsMovie(10));
  std::string second = movie("second.swf", fwsMovie(6));
  auto panel = newPanel();
  ASSERT_EQ(panel->playMovie(first), errOk);
  clearJournal();
  ASSERT_EQ(panel->playMovie(second), errOk);
  std::vector<std::string> expected = {"call StopPlay", "InPlaceDeactivate", "Close",
                                       "SetClientSite null", "destroy"};
  for (const std::string& line : playJournal(second)) expected.push_back(line);
  EXPECT_EQ(journal(), expected);
  EXPECT_EQ(panel->swfFilename(), second);
}

// A zlib stream that ends early (without its checksum, or cut inside the
// data) gives what it has: the movie is checked from that and shown.
TEST_F(FlashPanelTest, CompressedMovieCutShortIsShown) {
  std::string body = kMovieBody + std::string(3000, 'x');
  std::string packed = cwsMovie(9, body);
  for (std::size_t cut : {std::size_t{4}, std::size_t{6}}) {
    SCOPED_TRACE(testing::Message() << cut << " bytes cut");
    std::string path = movie("cut" + std::to_string(cut) + ".swf", packed.substr(0, packed.size() - cut));
    clearJournal();
    auto panel = newPanel();
    EXPECT_EQ(panel->playMovie(path), errOk);
    EXPECT_TRUE(panel->hasControl());
    EXPECT_EQ(panel->swfVersion(), 9);
    EXPECT_EQ(journal(), playJournal(path));
    std::string inflated = winfs::readText(panel->tempFolder() + "unCompressedSWF.swf");
    ASSERT_GE(inflated.size(), 8u);
    EXPECT_EQ(inflated.substr(8), body.substr(0, inflated.size() - 8));
    if (cut == 4) {
      EXPECT_EQ(inflated.substr(8), body);
    }
  }
}

struct FailRow {
  const char* name;
  std::string bytes;     // the movie file's content
  ErrorCode result;
  const char* flag;      // a stand-in failure setting, or nullptr
  bool controlAfter;     // a control exists afterwards
};

TEST_F(FlashPanelTest, MoviesThatCannotBeShown) {
  std::string packed = cwsMovie(10);
  std::string corrupt = packed;
  for (size_t i = 10; i < corrupt.size(); ++i) corrupt[i] = static_cast<char>(corrupt[i] ^ 0x5A);
  const FailRow rows[] = {
      {"newer than the player", fwsMovie(11), errFlashPlayerTooOld, nullptr, false},
      {"compressed, newer than the player", cwsMovie(11), errFlashPlayerTooOld, nullptr, false},
      {"version too high", fwsMovie(12), errSwfVersionTooHigh, nullptr, false},
      {"version too low", fwsMovie(2), errSwfVersionTooLow, nullptr, false},
      {"not a movie", "GIF89a....", errNotSwfFile, nullptr, false},
      {"corrupt compressed data", corrupt, errNotSwfFile, nullptr, false},
      {"compressed head only", std::string("CWS\x0a\x10", 5), errNotSwfFile, nullptr, false},
      {"shorter than a signature", "FW", 100, nullptr, false},
      {"no version byte", "FWS", 100, nullptr, false},
      {"control cannot be created", fwsMovie(10), errFlashControlFailed, "FailCreate", false},
      {"control refuses its verbs", fwsMovie(10), errFlashControlFailed, "FailVerb", true},
  };
  int n = 0;
  for (const FailRow& row : rows) {
    SCOPED_TRACE(row.name);
    setFlag("FailCreate", false);
    setFlag("FailVerb", false);
    if (row.flag) setFlag(row.flag, true);
    std::string name = std::to_string(n++);
    name += ".swf";
    std::string path = movie(name, row.bytes);
    clearJournal();
    std::string folder;
    {
      auto panel = newPanel();
      EXPECT_EQ(panel->playMovie(path), row.result);
      EXPECT_EQ(panel->hasControl(), row.controlAfter);
      EXPECT_EQ(panel->swfFilename(), path);
      // The same name again: nothing, even after a failure.
      EXPECT_EQ(panel->playMovie(path), errOk);
      EXPECT_EQ(panel->hasControl(), row.controlAfter);
      folder = panel->tempFolder();
    }
    if (!folder.empty()) {
      EXPECT_FALSE(winfs::exists(folder));
    }
    int creates = journalCount("create");
    if (row.flag && std::string(row.flag) == "FailCreate")
      EXPECT_EQ(journalCount("create refused"), flashTimings().controlCreateAttempts);
    else
      EXPECT_EQ(creates, row.controlAfter ? 1 : 0);
  }
}

// The inflated copy is bounded by the movie's own length field: data that
// inflates past it is a corrupt movie, and the copy does not stay.
TEST_F(FlashPanelTest, InflatedCopyStopsAtTheAnnouncedLength) {
  const std::string body(16u << 20, '\0');
  std::string bomb = cwsMovie(9, body);
  bomb.replace(4, 4, le32(100));  // announces 100 bytes in all
  std::string path = movie("bomb.swf", bomb);
  auto panel = newPanel();
  EXPECT_EQ(panel->playMovie(path), errNotSwfFile);
  ASSERT_FALSE(panel->tempFolder().empty());
  EXPECT_FALSE(winfs::exists(panel->tempFolder() + "unCompressedSWF.swf"));
  EXPECT_FALSE(panel->hasControl());
}

TEST_F(FlashPanelTest, NoPlayerAndMissingMovie) {
  std::string path = movie("movie.swf", fwsMovie(10));
  unregisterControl();
  flashTimings().probeWaitMs = 0;  // the panel probes 1000 times
  auto panel = newPanel();
  EXPECT_EQ(panel->playMovie(path), errFlashInstallerMissing);
  EXPECT_FALSE(panel->hasControl());

  // A movie file that does not exist is still handed to the control.
  registerControl(standinDll());
  std::string missing = workDir() + "missing.swf";
  auto fresh = newPanel();
  EXPECT_EQ(fresh->playMovie(missing), errOk);
  EXPECT_TRUE(fresh->hasControl());
  EXPECT_EQ(fresh->swfVersion(), 0);
  EXPECT_EQ(journalCount("put Movie " + missing), 1);
}

TEST_F(FlashPanelTest, CloseMovieFreesTheControlAndBlackensThePanel) {
  std::string path = movie("packed.swf", cwsMovie(10));
  auto panel = newPanel();
  panel->closeMovie();  // without a control: colour and name only
  EXPECT_EQ(panel->color(), RGB(0, 0, 0));
  ASSERT_EQ(panel->playMovie(path), errOk);
  clearJournal();
  panel->closeMovie();
  EXPECT_FALSE(panel->hasControl());
  EXPECT_EQ(panel->swfFilename(), "");
  EXPECT_EQ(panel->color(), RGB(0, 0, 0));
  EXPECT_EQ(journalCount("call StopPlay"), 1);
  EXPECT_EQ(journalCount("destroy"), 1);
  EXPECT_TRUE(winfs::exists(panel->tempFolder() + "unCompressedSWF.swf"));  // stays until destruction
  EXPECT_EQ(panel->releaseFlashControl(), errOk);
  // The same movie plays again after a close.
  EXPECT_EQ(panel->playMovie(path), errOk);
  EXPECT_TRUE(panel->hasControl());
}

// Shows the panel playing and checks what is on the screen.  Under Wine the
// test also takes a screenshot of the display with ImageMagick's import (a
// Unix program, which Wine starts like any other) into
// <build>/screenshots/flash_panel.png.
TEST_F(FlashPanelTest, ScreenshotOfThePanelPlaying) {
  std::string path = movie("screenshot.swf", cwsMovie(10));
  auto panel = newPanel();
  ASSERT_EQ(panel->playMovie(path), errOk);
  panel->focusMovie();
  pumpMessages(300);

  HWND control = panel->controlWindow();
  ASSERT_TRUE(control);
  HDC dc = GetDC(control);
  COLORREF inside = GetPixel(dc, kPanelWidth - 10, kPanelHeight - 10);
  ReleaseDC(control, dc);
  EXPECT_EQ(inside, kStandinColour);

  CreateDirectoryA(winfs::hostPath(TEST_BINARY_DIR "/screenshots").c_str(), nullptr);
  std::string shot = TEST_BINARY_DIR "/screenshots/flash_panel.png";
  DeleteFileA(winfs::hostPath(shot).c_str());
  std::string command = "/usr/bin/import -window root " + shot;
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi)) {
    GTEST_SKIP() << "no screenshot: cannot start " << command;
  }
  CloseHandle(pi.hProcess);  // Wine's handle of a Unix process does not wait for it
  CloseHandle(pi.hThread);
  // Keep painting until import has written the whole picture.
  const std::string file = winfs::hostPath(shot);
  std::int64_t lastSize = -1;
  DWORD start = GetTickCount();
  while (GetTickCount() - start < 15000) {
    pumpMessages(200);
    std::int64_t size = winfs::fileSize(file);
    if (size > 0 && size == lastSize) break;
    lastSize = size;
  }
  EXPECT_GT(winfs::fileSize(file), 0) << shot;
}

}  // namespace
