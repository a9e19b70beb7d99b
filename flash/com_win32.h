// Small COM helpers for talking to the Shockwave Flash control: an owning
// interface pointer, the OLE initialisation pair, an owned BSTR and calls
// through IDispatch.  Only ole32/oleaut32 calls that Windows 95 with DCOM
// offers (no CoInitializeEx, no ATL).
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <ocidl.h>

#include <string>
#include <utility>

// {D27CDB6E-AE6D-11CF-96B8-444553540000}: the Shockwave Flash control.
extern const CLSID CLSID_ShockwaveFlashControl;

// Dispatch ids of the control's properties that are set by id.
constexpr DISPID kDispidScaleMode = 120;
constexpr DISPID kDispidMovie = 102;
constexpr DISPID kDispidWMode = 133;
constexpr DISPID kDispidMenu = 135;

// An owned interface pointer.  put() releases the old one first, so passing
// it as an out-parameter cannot leak.
template <typename T>
class ComPtr {
public:
  ComPtr() = default;
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void reset() {
    if (p_) std::exchange(p_, nullptr)->Release();
  }
  T** put() {
    reset();
    return &p_;
  }
  void** putVoid() { return reinterpret_cast<void**>(put()); }

  // Queries another interface of the same object.
  template <typename U>
  HRESULT as(REFIID iid, ComPtr<U>& out) const {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(iid, out.putVoid());
  }

private:
  T* p_ = nullptr;
};

// OleInitialize for the lifetime of the object; OleUninitialize only when
// the initialisation succeeded (S_FALSE, already initialised, counts too).
class OleSession {
public:
  OleSession() : ok_(SUCCEEDED(OleInitialize(nullptr))) {}
  ~OleSession() {
    if (ok_) OleUninitialize();
  }
  OleSession(const OleSession&) = delete;
  OleSession& operator=(const OleSession&) = delete;
  bool ok() const { return ok_; }

private:
  bool ok_;
};

// An owned BSTR made from UTF-8 text.
class Bstr {
public:
  Bstr() = default;
  explicit Bstr(const std::string& text);
  ~Bstr() { SysFreeString(b_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return b_; }

private:
  BSTR b_ = nullptr;
};

// A VARIANT cleared when it goes.
class Variant {
public:
  Variant() { VariantInit(&v_); }
  ~Variant() { VariantClear(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT* get() { return &v_; }
  const VARIANT& value() const { return v_; }

private:
  VARIANT v_;
};

// Wide text (a BSTR's) as UTF-8.
std::string textFromWide(const wchar_t* text, int length);

// The dispatch id of a member by name; DISPID_UNKNOWN when the object does
// not know it.
DISPID dispidOfName(IDispatch* object, const char* name);

// Puts a property: an int, a text, a boolean.
HRESULT putProperty(IDispatch* object, DISPID id, const VARIANT& value);
HRESULT putIntProperty(IDispatch* object, DISPID id, long value);
HRESULT putTextProperty(IDispatch* object, DISPID id, const std::string& value);
HRESULT putBoolProperty(IDispatch* object, DISPID id, bool value);

// Gives a newly created control a fresh state (IPersistStreamInit::InitNew)
// when it asks for one; controls without that interface need none.
void initNewControl(IUnknown* control);

// Calls a method looked up by name with up to two text arguments (in their
// natural order); result, when given, receives its return value.
HRESULT callMethod(IDispatch* object, const char* name, const std::string* arg1 = nullptr,
                   const std::string* arg2 = nullptr, Variant* result = nullptr);
