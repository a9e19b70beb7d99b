// TFlashPanel: the child window in which the installer window shows its
// preview movie through the Shockwave Flash ActiveX control.
//
// The panel hosts the control in an OLE container of its own (one site
// object; see flash_panel_win32.cpp) and talks to it only through
// IDispatch.  Before a movie is handed to the control, the panel reads the
// movie's head: a compressed movie ("CWS") is first inflated into an
// uncompressed copy in the panel's own numbered folder ("FlashPanel"N under
// the per-user work area), which serves the check only; the control always
// plays the original file.  A movie newer than the installed player is
// refused.  The folder is deleted with everything in it when the panel goes.
//
// GUI thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "base/error_codes.h"
#include "flash/com_win32.h"
#include "flash/swf_reader.h"
#include "system/handles_win32.h"

class FlashControl;  // the hosted control and its site

class TFlashPanel {
public:
  // A child of parent with control id `id` at the given place, white,
  // without a control.  When the window cannot be made the panel still
  // exists; playMovie then fails.
  TFlashPanel(HWND parent, int id, int left, int top, int width, int height);
  // Frees the control, then deletes the temporary folder tree.
  ~TFlashPanel();
  TFlashPanel(const TFlashPanel&) = delete;
  TFlashPanel& operator=(const TFlashPanel&) = delete;

  // Shows a movie.  0 when shown, or when fileName is empty or the name of
  // the movie last given (exact comparison), whatever that call returned.
  // Failures, each before the old control is replaced unless noted:
  //   errNotSwfFile, errSwfVersionTooHigh/-Low  not a usable movie; also a
  //       compressed movie whose zlib data is corrupt, truncated or shorter
  //       than its 8-byte head
  //   100 (read past end)  a file shorter than its signature or version
  //   errFlashInstallerMissing  no Flash Player
  //   errFlashPlayerTooOld      the movie's SWF version is above the player's major
  //   errFlashControlFailed     the control could not be created, or would
  //       not take the movie (the new control exists then)
  //   positive                  a file error (temporary folder, copies)
  // Never raises.
  ErrorCode playMovie(const std::string& fileName);
  // Repaints and gives the keyboard focus to the panel, then the control;
  // only when the panel is visible and has a control.
  void focusMovie();
  // Frees the control, turns the background black and forgets the movie
  // name; the temporary folder stays.
  void closeMovie();

  // The steps of playMovie, each usable on its own.
  // Inflates swfFilename() into tempFolder() + "unCompressedSWF.swf" (its
  // zlib part goes to "compressedSWFSegment.swf" first).  0 also when the
  // movie does not exist.
  ErrorCode inflateSWFFileToTempFile();
  // playerCheckForMovie for swfVersion() and the installed player.
  ErrorCode verifyPlayerForMovie();
  // StopPlay, free the control, handle queued messages.  0, or
  // errFlashControlRelease when StopPlay failed (the control is freed anyway).
  ErrorCode releaseFlashControl();
  // Up to flashTimings().controlCreateAttempts tries without pause; the
  // first created control is kept and set up (size, ScaleMode 0, Align,
  // WMode "Opaque", Menu off) as far as it lets itself.  0 or errFlashControlFailed.
  ErrorCode createFlashControl();
  // Hide verb, Movie := swfFilename(), Play, show verb.  0, or
  // errFlashControlFailed at the first step the control refuses.
  ErrorCode startMovie();

  HWND handle() const { return window_.get(); }
  bool hasControl() const { return flashControl_ != nullptr; }
  // The control's own window while it is in place; nullptr otherwise.
  HWND controlWindow() const;
  const std::string& swfFilename() const { return swfFilename_; }
  const std::string& swfSignature() const { return swfHeader_.swfSignature; }
  std::uint8_t swfVersion() const { return swfHeader_.swfVersion; }
  const std::string& tempFolder() const { return tempFolder_; }
  COLORREF color() const { return color_; }
  void setColor(COLORREF color);

  // Stored with the form; the panel's behaviour does not depend on them.
  std::string defaultSWF;
  bool enableAllowScale = false;
  std::int32_t scaleFactor = 0;

private:
  static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  // Frees the control without handling messages; StopPlay's result.
  HRESULT freeControl();
  ErrorCode copyCompressedPart(const std::string& segmentPath, std::uint8_t header[8]);
  ErrorCode inflateSegment(const std::string& segmentPath, const std::uint8_t header[8]);

  OleSession ole_;  // declared first: outlives the control
  UniqueWindow window_;
  UniqueGdiObject brush_;
  COLORREF color_ = RGB(255, 255, 255);
  std::unique_ptr<FlashControl> flashControl_;
  std::string swfFilename_;
  SwfHeaderState swfHeader_;
  std::string tempFolder_;
};
