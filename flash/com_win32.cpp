// COM helpers (declared in flash/com_win32.h).
#include "flash/com_win32.h"

#include <algorithm>
#include <vector>

#include "base/code_page.h"

const CLSID CLSID_ShockwaveFlashControl = {
    0xD27CDB6E, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

Bstr::Bstr(const std::string& text) {
  std::u16string wide = utf8ToUtf16(text);
  b_ = SysAllocStringLen(nullptr, static_cast<UINT>(wide.size()));
  if (b_) std::copy(wide.begin(), wide.end(), b_);
}

std::string textFromWide(const wchar_t* text, int length) {
  if (!text || length <= 0) return std::string();
  return utf16ToUtf8(std::u16string(text, text + length));
}

DISPID dispidOfName(IDispatch* object, const char* name) {
  if (!object) return DISPID_UNKNOWN;
  std::vector<wchar_t> wide;
  for (const char* p = name; *p; ++p) wide.push_back(static_cast<wchar_t>(*p));  // ASCII names
  wide.push_back(0);
  LPOLESTR names[1] = {wide.data()};
  DISPID id = DISPID_UNKNOWN;
  if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &id)))
    return DISPID_UNKNOWN;
  return id;
}

HRESULT putProperty(IDispatch* object, DISPID id, const VARIANT& value) {
  if (!object) return E_POINTER;
  VARIANT arg = value;  // Invoke does not change its arguments
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params = {&arg, &named, 1, 1};
  return object->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_PROPERTYPUT, &params,
                        nullptr, nullptr, nullptr);
}

HRESULT putIntProperty(IDispatch* object, DISPID id, long value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return putProperty(object, id, v);
}

HRESULT putTextProperty(IDispatch* object, DISPID id, const std::string& value) {
  Bstr text(value);
  if (!text.get()) return E_OUTOFMEMORY;
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = text.get();
  return putProperty(object, id, v);
}

HRESULT putBoolProperty(IDispatch* object, DISPID id, bool value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return putProperty(object, id, v);
}

HRESULT callMethod(IDispatch* object, const char* name, const std::string* arg1,
                   const std::string* arg2, Variant* result) {
  if (!object) return E_POINTER;
  DISPID id = dispidOfName(object, name);
  if (id == DISPID_UNKNOWN) return DISP_E_UNKNOWNNAME;
  Bstr first(arg1 ? *arg1 : std::string());
  Bstr second(arg2 ? *arg2 : std::string());
  if ((arg1 && !first.get()) || (arg2 && !second.get())) return E_OUTOFMEMORY;
  // IDispatch takes its arguments last to first.
  VARIANT args[2];
  VariantInit(&args[0]);
  VariantInit(&args[1]);
  UINT count = 0;
  if (arg2) {
    args[count].vt = VT_BSTR;
    args[count++].bstrVal = second.get();
  }
  if (arg1) {
    args[count].vt = VT_BSTR;
    args[count++].bstrVal = first.get();
  }
  DISPPARAMS params = {count ? args : nullptr, nullptr, count, 0};
  return object->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, &params,
                        result ? result->get() : nullptr, nullptr, nullptr);
}

void initNewControl(IUnknown* control) {
  if (!control) return;
  ComPtr<IPersistStreamInit> persist;
  if (SUCCEEDED(control->QueryInterface(IID_IPersistStreamInit, persist.putVoid())))
    persist->InitNew();
}
