// The Flash movie panel (declared in flash/flash_panel_win32.h).
//
// The container: one site object serves the control as IOleClientSite,
// IOleInPlaceSite and IOleInPlaceFrame (both with IOleWindow).  The control
// is created from its machine registration (createFlashControl), given the
// site, initialised with IPersistStreamInit::InitNew when it offers that,
// and activated in place with DoVerb(OLEIVERB_INPLACEACTIVATE) on the
// panel's rectangle; during activation it asks the site for the panel
// window and the rectangles and creates its own child window.  The rectangle is taken once, when the
// control is created: the panel does not follow later size changes.
#include "flash/flash_panel_win32.h"

#include <new>

#include "base/application_win32.h"
#include "flash/flash_version.h"
#include "flash/player_detect_win32.h"
#include "package/zstream.h"
#include "system/file_stream_win32.h"
#include "system/folders_win32.h"

namespace {

const char kPanelClass[] = "TFlashPanel";
const char kSegmentName[] = "compressedSWFSegment.swf";
const char kUncompressedName[] = "unCompressedSWF.swf";
constexpr std::size_t kCopyBlock = 2048;
constexpr std::size_t kSwfHeadSize = 8;  // signature, version, file length
constexpr int kMoviePlayerAttempts = 1000;

// The site the control talks back to.  Everything but the window and the
// rectangles is a stub: the panel has no menus, toolbars or documents.
class ControlSite final : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame {
public:
  ControlSite(HWND panel, const RECT& rect) : panel_(panel), rect_(rect) {}

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IOleClientSite)
      *out = static_cast<IOleClientSite*>(this);
    else if (iid == IID_IOleInPlaceSite || iid == IID_IOleWindow)
      *out = static_cast<IOleInPlaceSite*>(this);
    else if (iid == IID_IOleInPlaceFrame || iid == IID_IOleInPlaceUIWindow)
      *out = static_cast<IOleInPlaceFrame*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetContainer(IOleContainer** out) override {
    if (out) *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow (for the site and the frame alike)
  STDMETHODIMP GetWindow(HWND* out) override {
    if (!out) return E_POINTER;
    *out = panel_;
    return panel_ ? S_OK : E_FAIL;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos,
                                LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
    if (!frame || !doc || !pos || !clip || !info) return E_POINTER;
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *doc = nullptr;
    *pos = rect_;
    *clip = rect_;
    info->fMDIApp = FALSE;
    info->hwndFrame = panel_;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
  STDMETHODIMP DiscardUndoState() override { return S_OK; }
  STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

  // IOleInPlaceUIWindow
  STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }

  // IOleInPlaceFrame
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  const RECT& rect() const { return rect_; }

private:
  ~ControlSite() = default;

  ULONG refs_ = 1;
  HWND panel_;
  RECT rect_;
};

// Keeps the panel's window class registered for the process.
bool registerPanelClass(HINSTANCE instance, WNDPROC proc) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.lpszClassName = kPanelClass;
  return RegisterClassA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

// The hosted control: its OLE and dispatch interfaces and the site it was
// given.  Freeing it deactivates and closes the control.
class FlashControl {
public:
  ComPtr<IOleObject> ole;
  ComPtr<IDispatch> dispatch;
  ControlSite* site = nullptr;

  ~FlashControl() {
    if (ole) {
      ComPtr<IOleInPlaceObject> inPlace;
      if (SUCCEEDED(ole.as(IID_IOleInPlaceObject, inPlace))) inPlace->InPlaceDeactivate();
      ole->Close(OLECLOSE_NOSAVE);
      ole->SetClientSite(nullptr);
    }
    dispatch.reset();
    ole.reset();
    if (site) site->Release();
  }

  HRESULT doVerb(LONG verb) {
    if (!ole || !site) return E_POINTER;
    HWND panel = nullptr;
    site->GetWindow(&panel);
    return ole->DoVerb(verb, nullptr, site, 0, panel, &site->rect());
  }
};

// ------------------------------------------------------------ the window

TFlashPanel::TFlashPanel(HWND parent, int id, int left, int top, int width, int height) {
  HINSTANCE instance = Application::instance().hinstance();
  if (!instance) instance = GetModuleHandleA(nullptr);
  brush_.reset(CreateSolidBrush(color_));
  if (!registerPanelClass(instance, windowProc)) return;
  window_.reset(CreateWindowExA(0, kPanelClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, left,
                                top, width, height, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance,
                                nullptr));
  if (window_) SetWindowLongPtrA(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

TFlashPanel::~TFlashPanel() {
  freeControl();
  if (window_) SetWindowPos(window_.get(), nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOZORDER);
  if (!tempFolder_.empty()) deleteWorkFolder(tempFolder_);
  if (window_) SetWindowLongPtrA(window_.get(), GWLP_USERDATA, 0);
  window_.reset();
}

LRESULT CALLBACK TFlashPanel::windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* panel = reinterpret_cast<TFlashPanel*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (msg == WM_ERASEBKGND && panel && panel->brush_) {
    RECT rc;
    GetClientRect(hwnd, &rc);
    FillRect(reinterpret_cast<HDC>(wp), &rc, static_cast<HBRUSH>(panel->brush_.get()));
    return 1;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

void TFlashPanel::setColor(COLORREF color) {
  color_ = color;
  brush_.reset(CreateSolidBrush(color));
  if (window_) InvalidateRect(window_.get(), nullptr, TRUE);
}

HWND TFlashPanel::controlWindow() const {
  if (!flashControl_) return nullptr;
  ComPtr<IOleInPlaceObject> inPlace;
  HWND hwnd = nullptr;
  if (SUCCEEDED(flashControl_->ole.as(IID_IOleInPlaceObject, inPlace))) inPlace->GetWindow(&hwnd);
  return hwnd;
}

// ------------------------------------------------------------ playing

ErrorCode TFlashPanel::playMovie(const std::string& fileName) {
  // The installer falls back to installing without its window when the
  // movie cannot be shown, so no failure may escape from here.
  try {
    if (fileName.empty() || fileName == swfFilename_) return errOk;
    swfFilename_ = fileName;
    // A missing file reads no head: check it as a versionless movie, not
    // with the values of the movie before it.
    swfHeader_ = SwfHeaderState();
    ErrorCode r = readSWFFileFormatType(swfFilename_, swfHeader_);
    if (r == errOk) {
      if (swfHeader_.swfSignature == "FWS") {
        r = readSWFFile_FWS_Format(swfFilename_, swfHeader_);
      } else if (swfHeader_.swfSignature == "CWS") {
        r = inflateSWFFileToTempFile();
        if (r == errOk) r = readSWFFile_FWS_Format(tempFolder_ + kUncompressedName, swfHeader_);
      }
    }
    if (r == errOk) r = verifyPlayerForMovie();
    if (r == errOk) releaseFlashControl();
    if (r == errOk) r = createFlashControl();
    if (r == errOk) r = startMovie();
    return r;
  } catch (const std::bad_alloc&) {
    return errOutOfMemory;
  } catch (...) {
    return errUnspecified;
  }
}

ErrorCode TFlashPanel::inflateSWFFileToTempFile() {
  if (tempFolder_.empty()) {
    std::string folder;
    if (ErrorCode r = createWorkFolder("FlashPanel", folder)) return r;
    tempFolder_ = folder;
  }
  if (!fileExists(swfFilename_)) return errOk;
  std::uint8_t header[kSwfHeadSize] = {};
  const std::string segmentPath = tempFolder_ + kSegmentName;
  if (ErrorCode r = copyCompressedPart(segmentPath, header)) return r;
  return inflateSegment(segmentPath, header);
}

// Copies everything after the movie's 8-byte head into segmentPath.
ErrorCode TFlashPanel::copyCompressedPart(const std::string& segmentPath, std::uint8_t header[8]) {
  FileStream movie;
  if (ErrorCode r = movie.openRead(swfFilename_)) return r;
  std::size_t got = 0;
  if (ErrorCode r = movie.read(header, kSwfHeadSize, got)) return r;
  if (got < kSwfHeadSize) return errNotSwfFile;  // no room for the zlib stream
  FileStream segment;
  if (ErrorCode r = segment.create(segmentPath, FileKind::Scratch)) return r;
  char block[kCopyBlock];
  for (;;) {
    if (ErrorCode r = movie.read(block, sizeof block, got)) return r;
    if (got == 0) break;
    if (ErrorCode r = segment.write(block, got)) return r;
  }
  return segment.close();
}

// Writes "FWS", the movie's version and length bytes, then the inflated
// segment into the uncompressed copy.
ErrorCode TFlashPanel::inflateSegment(const std::string& segmentPath,
                                      const std::uint8_t header[8]) {
  FileSourceStream source;
  if (ErrorCode r = source.open(segmentPath)) return r;
  FileStream out;
  if (ErrorCode r = out.create(tempFolder_ + kUncompressedName, FileKind::Scratch)) return r;
  std::uint8_t head[kSwfHeadSize] = {'F', 'W', 'S'};
  for (std::size_t i = 3; i < kSwfHeadSize; ++i) head[i] = header[i];
  if (ErrorCode r = out.write(head, sizeof head)) return r;
  // The movie's own length field bounds the copy: a stream that inflates
  // past it is corrupt, and stops there rather than filling the disk.
  const std::uint32_t announced = static_cast<std::uint32_t>(header[4]) | static_cast<std::uint32_t>(header[5]) << 8 |
                                  static_cast<std::uint32_t>(header[6]) << 16 |
                                  static_cast<std::uint32_t>(header[7]) << 24;
  std::uint64_t room = announced > kSwfHeadSize ? announced - kSwfHeadSize : 0;
  try {
    auto inflater = std::make_unique<TZDecompressionStream>(source);  // 64 KB: not on the stack
    char block[kCopyBlock];
    for (;;) {
      std::size_t got = inflater->Read(block, sizeof block);
      if (got == 0) break;
      if (got > room) {
        out.close();
        deleteFileForced(tempFolder_ + kUncompressedName);
        return errNotSwfFile;
      }
      room -= got;
      if (ErrorCode r = out.write(block, got)) return r;
    }
  } catch (const EZLibError&) {
    return errNotSwfFile;  // corrupt or truncated movie data
  } catch (const EStreamError& e) {
    return e.code();
  }
  return out.close();
}

ErrorCode TFlashPanel::verifyPlayerForMovie() {
  bool installed = false;
  std::int32_t major = 0;
  std::int32_t revision = 0;
  getFlashPlayerVersion(kMoviePlayerAttempts, installed, major, revision);
  return playerCheckForMovie(installed, major, swfHeader_.swfVersion);
}

HRESULT TFlashPanel::freeControl() {
  if (!flashControl_) return S_OK;
  HRESULT hr = callMethod(flashControl_->dispatch.get(), "StopPlay");
  flashControl_.reset();
  return hr;
}

ErrorCode TFlashPanel::releaseFlashControl() {
  if (!flashControl_) return errOk;
  HRESULT hr = freeControl();
  // Let the control's window finish going.  Only what is queued: waiting for
  // a message could block when none comes.
  Application::instance().processMessages();
  return SUCCEEDED(hr) ? errOk : errFlashControlRelease;
}

ErrorCode TFlashPanel::createFlashControl() {
  RECT rect = {0, 0, 0, 0};
  if (window_) GetClientRect(window_.get(), &rect);
  const int attempts = flashTimings().controlCreateAttempts;
  for (int i = 0; i < attempts && !flashControl_; ++i) {
    ComPtr<IOleObject> ole;
    if (FAILED(::createFlashControl(IID_IOleObject, ole.putVoid()))) continue;
    auto control = std::make_unique<FlashControl>();
    control->ole = std::move(ole);
    control->site = new ControlSite(window_.get(), rect);
    control->ole.as(IID_IDispatch, control->dispatch);
    flashControl_ = std::move(control);

    // From here on the control is kept: each step is tried, failures are
    // ignored, as the control may still play with its defaults.
    FlashControl& c = *flashControl_;
    c.ole->SetClientSite(c.site);
    initNewControl(c.ole.get());
    if (window_) c.doVerb(OLEIVERB_INPLACEACTIVATE);
    IDispatch* d = c.dispatch.get();
    putIntProperty(d, kDispidScaleMode, 0);
    std::string align = "Align";
    std::string client = "AlClient";
    callMethod(d, "SetVariable", &align, &client);
    putTextProperty(d, kDispidWMode, "Opaque");
    putBoolProperty(d, kDispidMenu, false);
  }
  return flashControl_ ? errOk : errFlashControlFailed;
}

ErrorCode TFlashPanel::startMovie() {
  if (!flashControl_) return errFlashControlFailed;
  FlashControl& c = *flashControl_;
  if (FAILED(c.doVerb(OLEIVERB_HIDE))) return errFlashControlFailed;
  if (FAILED(putTextProperty(c.dispatch.get(), kDispidMovie, swfFilename_)))
    return errFlashControlFailed;
  if (FAILED(callMethod(c.dispatch.get(), "Play"))) return errFlashControlFailed;
  if (FAILED(c.doVerb(OLEIVERB_SHOW))) return errFlashControlFailed;
  return errOk;
}

void TFlashPanel::focusMovie() {
  if (!window_ || !IsWindowVisible(window_.get()) || !flashControl_) return;
  InvalidateRect(window_.get(), nullptr, TRUE);
  UpdateWindow(window_.get());
  SetFocus(window_.get());
  if (HWND control = controlWindow()) SetFocus(control);
}

void TFlashPanel::closeMovie() {
  releaseFlashControl();
  setColor(RGB(0, 0, 0));
  swfFilename_.clear();
}
