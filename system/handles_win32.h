// Owning wrappers for Win32 handles: one template, parameterised by what
// "invalid" means for the handle kind and how it is closed.  Movable, not
// copyable; reset() keeps GetLastError so that clean-up on an error path does
// not overwrite the code about to be reported.
#pragma once

#include <windows.h>

#include <utility>

template <typename Traits>
class UniqueHandle {
public:
  using Handle = typename Traits::Handle;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle h) : handle_(h) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Traits::invalid(); }
  Handle release() { return std::exchange(handle_, Traits::invalid()); }
  void reset(Handle h = Traits::invalid()) {
    if (handle_ != Traits::invalid()) {
      DWORD saved = GetLastError();
      Traits::close(handle_);
      SetLastError(saved);
    }
    handle_ = h;
  }
  // For out-parameters: releases the old handle first.
  Handle* put() {
    reset();
    return &handle_;
  }

private:
  Handle handle_ = Traits::invalid();
};

struct FileHandleTraits {  // CreateFile reports failure as INVALID_HANDLE_VALUE
  using Handle = HANDLE;
  static Handle invalid() { return INVALID_HANDLE_VALUE; }
  static void close(Handle h) { CloseHandle(h); }
};
struct KernelHandleTraits {  // processes, events, mappings: NULL on failure
  using Handle = HANDLE;
  static Handle invalid() { return nullptr; }
  static void close(Handle h) { CloseHandle(h); }
};
struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle invalid() { return INVALID_HANDLE_VALUE; }
  static void close(Handle h) { FindClose(h); }
};
struct RegKeyTraits {
  using Handle = HKEY;
  static Handle invalid() { return nullptr; }
  static void close(Handle h) { RegCloseKey(h); }
};
struct ModuleTraits {
  using Handle = HMODULE;
  static Handle invalid() { return nullptr; }
  static void close(Handle h) { FreeLibrary(h); }
};
struct GdiObjectTraits {
  using Handle = HGDIOBJ;
  static Handle invalid() { return nullptr; }
  static void close(Handle h) { DeleteObject(h); }
};
struct WindowTraits {
  using Handle = HWND;
  static Handle invalid() { return nullptr; }
  static void close(Handle h) {
    if (IsWindow(h)) DestroyWindow(h);
  }
};

using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFind = UniqueHandle<FindHandleTraits>;
using UniqueRegKey = UniqueHandle<RegKeyTraits>;
using UniqueModule = UniqueHandle<ModuleTraits>;
using UniqueGdiObject = UniqueHandle<GdiObjectTraits>;
using UniqueWindow = UniqueHandle<WindowTraits>;

// A paired call without a handle (OleInitialize/OleUninitialize and the like).
template <typename F>
class ScopeExit {
public:
  explicit ScopeExit(F f) : f_(std::move(f)) {}
  ~ScopeExit() {
    if (active_) f_();
  }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  void dismiss() { active_ = false; }

private:
  F f_;
  bool active_ = true;
};
