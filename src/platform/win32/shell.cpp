// The Shell automation objects over COM.
//
// Each class wraps one COM interface pointer and turns its members into
// plain calls: strings in and out as UTF-16, a failing HRESULT thrown as a
// ShellFailure with the best description the system has for it, a null
// answer handed back as a null pointer.  Every interface pointer, BSTR and
// VARIANT lives in a small owner that releases it, so an exception leaves
// nothing behind.
#include "platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <shldisp.h>

#include <string>
#include <utility>

namespace platform {

std::unique_ptr<ShellObject> CreateSystemShell();

namespace {

// ---- owners -----------------------------------------------------------------

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { reset(); }
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For an out-parameter: drops what was held and hands out the slot.
  T** put() {
    reset();
    return &p_;
  }
  void reset() {
    if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
  }

 private:
  T* p_ = nullptr;
};

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::u16string_view text);
  ~Bstr() { ::SysFreeString(b_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;

  BSTR get() const { return b_; }
  BSTR* put() {
    ::SysFreeString(std::exchange(b_, nullptr));
    return &b_;
  }
  BSTR release() { return std::exchange(b_, nullptr); }
  std::u16string str() const {
    return b_ == nullptr ? std::u16string()
                         : std::u16string(reinterpret_cast<const char16_t*>(b_),
                                          ::SysStringLen(b_));
  }

 private:
  BSTR b_ = nullptr;
};

class Variant {
 public:
  Variant() { ::VariantInit(&v_); }
  ~Variant() { ::VariantClear(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;

  // A string argument; the variant owns its copy.
  static void String(Variant& v, std::u16string_view text);

  VARIANT& get() { return v_; }
  VARIANT* put() {
    ::VariantClear(&v_);
    return &v_;
  }

 private:
  VARIANT v_;
};

// ---- failures -----------------------------------------------------------------

std::u16string Hex32(std::uint32_t value) {
  std::u16string out = u"0x";
  for (int shift = 28; shift >= 0; shift -= 4) out += u"0123456789ABCDEF"[(value >> shift) & 0xF];
  return out;
}

// Drops trailing line ends and blanks, which system messages carry.
std::u16string TrimEnd(std::u16string text) {
  while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' ||
                           text.back() == u' ' || text.back() == u'\t')) {
    text.pop_back();
  }
  return text;
}

std::u16string SystemMessage(HRESULT hr) {
  wchar_t* message = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  std::u16string text;
  if (length != 0 && message != nullptr) {
    text.assign(reinterpret_cast<const char16_t*>(message), length);
  }
  if (message != nullptr) ::LocalFree(message);
  return TrimEnd(std::move(text));
}

// The description of a failed call: what the object said about it (its
// error info or exception info), else what the system says about the code.
// The member's name and the code follow in brackets, so that a user can
// tell which step went wrong.
[[noreturn]] void Fail(HRESULT hr, std::u16string_view member, std::u16string description = {}) {
  description = TrimEnd(std::move(description));
  if (description.empty()) {
    IErrorInfo* raw = nullptr;
    if (::GetErrorInfo(0, &raw) == S_OK && raw != nullptr) {
      Bstr text;
      if (SUCCEEDED(raw->GetDescription(text.put()))) description = TrimEnd(text.str());
      raw->Release();
    }
  }
  if (description.empty()) description = SystemMessage(hr);
  std::u16string suffix = u" (";
  suffix += member;
  suffix += u", ";
  suffix += Hex32(static_cast<std::uint32_t>(hr));
  suffix += u")";
  if (description.empty()) description = u"Shell call failed";
  throw ShellFailure{description + suffix};
}

// Runs one member call.  Any error info left over from an earlier call is
// cleared first, so that it cannot be taken for this call's.
template <class F>
void Call(std::u16string_view member, F&& call) {
  ::SetErrorInfo(0, nullptr);
  const HRESULT hr = call();
  if (FAILED(hr)) Fail(hr, member);
}

// The object's interface T, or a failure in the name of the member that
// gave the object.
template <class T>
ComPtr<T> QueryAs(IUnknown* object, REFIID iid, std::u16string_view member) {
  ComPtr<T> out;
  Call(member, [&] { return object->QueryInterface(iid, reinterpret_cast<void**>(out.put())); });
  if (!out) Fail(E_NOINTERFACE, member);
  return out;
}

Bstr::Bstr(std::u16string_view text)
    : b_(::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                             static_cast<UINT>(text.size()))) {
  if (b_ == nullptr) Fail(E_OUTOFMEMORY, u"SysAllocStringLen");
}

void Variant::String(Variant& v, std::u16string_view text) {
  Bstr owned(text);
  VARIANT* slot = v.put();
  slot->vt = VT_BSTR;
  slot->bstrVal = owned.release();  // the variant frees it from now on
}

// ---- COM on this thread ------------------------------------------------------

// COM is made ready on the first Shell and stays so for the life of the
// process; the matching uninitialise runs at exit.
class ComApartment {
 public:
  void Enter() {
    if (entered_) return;
    const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // RPC_E_CHANGED_MODE: the thread already has COM of the other kind,
    // which serves our in-process objects just as well.
    if (FAILED(hr) && hr != RPC_E_CHANGED_MODE) Fail(hr, u"CoInitializeEx");
    entered_ = true;
    balance_ = SUCCEEDED(hr);
  }
  ~ComApartment() {
    if (balance_) ::CoUninitialize();
  }

 private:
  bool entered_ = false;
  bool balance_ = false;
};

ComApartment g_apartment;

// ---- the objects ---------------------------------------------------------------

class Win32ShellLink final : public ShellLinkObject {
 public:
  explicit Win32ShellLink(ComPtr<IShellLinkDual> link) : link_(std::move(link)) {}

  void SetPath(const std::u16string& path) override {
    Put(u"IShellLinkDual.Path", &IShellLinkDual::put_Path, path);
  }
  void SetDescription(const std::u16string& description) override {
    Put(u"IShellLinkDual.Description", &IShellLinkDual::put_Description, description);
  }
  void SetWorkingDirectory(const std::u16string& folder) override {
    Put(u"IShellLinkDual.WorkingDirectory", &IShellLinkDual::put_WorkingDirectory, folder);
  }
  void SetArguments(const std::u16string& arguments) override {
    Put(u"IShellLinkDual.Arguments", &IShellLinkDual::put_Arguments, arguments);
  }
  void Save() override {
    // The file argument left out, the way a script omits an optional one.
    Variant omitted;
    omitted.get().vt = VT_ERROR;
    omitted.get().scode = DISP_E_PARAMNOTFOUND;
    Call(u"IShellLinkDual.Save", [&] { return link_->Save(omitted.get()); });
  }

 private:
  // One of the string properties written.
  void Put(std::u16string_view member, HRESULT (STDMETHODCALLTYPE IShellLinkDual::*put)(BSTR),
           const std::u16string& value) {
    Bstr text(value);
    Call(member, [&] { return (link_.get()->*put)(text.get()); });
  }

  ComPtr<IShellLinkDual> link_;
};

class Win32FolderItem final : public FolderItemObject {
 public:
  explicit Win32FolderItem(ComPtr<FolderItem> item) : item_(std::move(item)) {}

  std::u16string Path() override {
    Bstr path;
    Call(u"FolderItem.Path", [&] { return item_->get_Path(path.put()); });
    return path.str();
  }

  std::unique_ptr<ShellLinkObject> GetLink() override {
    ComPtr<IDispatch> object;
    Call(u"FolderItem.GetLink", [&] { return item_->get_GetLink(object.put()); });
    if (!object) return nullptr;
    return std::make_unique<Win32ShellLink>(
        QueryAs<IShellLinkDual>(object.get(), IID_IShellLinkDual, u"FolderItem.GetLink"));
  }

 private:
  ComPtr<FolderItem> item_;
};

class Win32FolderItems final : public FolderItemsObject {
 public:
  explicit Win32FolderItems(ComPtr<FolderItems> items) : items_(std::move(items)) {}

  std::unique_ptr<FolderItemObject> Item(const std::u16string& name) override {
    Variant index;
    Variant::String(index, name);
    ComPtr<FolderItem> item;
    Call(u"FolderItems.Item", [&] { return items_->Item(index.get(), item.put()); });
    if (!item) return nullptr;
    return std::make_unique<Win32FolderItem>(std::move(item));
  }

 private:
  ComPtr<FolderItems> items_;
};

class Win32Folder final : public FolderObject {
 public:
  explicit Win32Folder(ComPtr<Folder> folder) : folder_(std::move(folder)) {}

  // "Self" belongs to the later Folder2 interface; asking for it by name
  // works with whatever version of the folder object the Shell hands out.
  std::unique_ptr<FolderItemObject> Self() override {
    static constexpr std::u16string_view kMember = u"Folder.Self";
    wchar_t name[] = L"Self";
    LPOLESTR names[] = {name};
    DISPID id = DISPID_UNKNOWN;
    Call(kMember, [&] {
      return folder_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    });

    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    Variant result;
    EXCEPINFO exception{};
    UINT bad_argument = 0;
    ::SetErrorInfo(0, nullptr);
    const HRESULT hr = folder_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                                       &none, result.put(), &exception, &bad_argument);
    if (hr == DISP_E_EXCEPTION) {
      if (exception.pfnDeferredFillIn != nullptr) exception.pfnDeferredFillIn(&exception);
      std::u16string description;
      if (exception.bstrDescription != nullptr) {
        description.assign(reinterpret_cast<const char16_t*>(exception.bstrDescription),
                           ::SysStringLen(exception.bstrDescription));
      }
      ::SysFreeString(exception.bstrSource);
      ::SysFreeString(exception.bstrDescription);
      ::SysFreeString(exception.bstrHelpFile);
      const HRESULT code = exception.scode != 0 ? exception.scode : hr;
      Fail(code, kMember, std::move(description));
    }
    if (FAILED(hr)) Fail(hr, kMember);

    const VARIANT& v = result.get();
    IUnknown* object = nullptr;
    if (v.vt == VT_DISPATCH) {
      object = v.pdispVal;
    } else if (v.vt == VT_UNKNOWN) {
      object = v.punkVal;
    } else if (v.vt != VT_EMPTY && v.vt != VT_NULL) {
      Fail(DISP_E_TYPEMISMATCH, kMember);
    }
    if (object == nullptr) return nullptr;
    return std::make_unique<Win32FolderItem>(QueryAs<FolderItem>(object, IID_FolderItem, kMember));
  }

  std::unique_ptr<FolderItemsObject> Items() override {
    ComPtr<FolderItems> items;
    Call(u"Folder.Items", [&] { return folder_->Items(items.put()); });
    if (!items) return nullptr;
    return std::make_unique<Win32FolderItems>(std::move(items));
  }

 private:
  ComPtr<Folder> folder_;
};

class Win32Shell final : public ShellObject {
 public:
  explicit Win32Shell(ComPtr<IShellDispatch> shell) : shell_(std::move(shell)) {}

  std::unique_ptr<FolderObject> NameSpace(const std::u16string& folder) override {
    Variant where;
    Variant::String(where, folder);
    ComPtr<Folder> result;
    // S_FALSE and no folder: the Shell cannot resolve the path.
    Call(u"Shell.NameSpace", [&] { return shell_->NameSpace(where.get(), result.put()); });
    if (!result) return nullptr;
    return std::make_unique<Win32Folder>(std::move(result));
  }

 private:
  ComPtr<IShellDispatch> shell_;
};

}  // namespace

std::unique_ptr<ShellObject> CreateSystemShell() {
  g_apartment.Enter();
  ComPtr<IShellDispatch> shell;
  Call(u"CoCreateInstance(Shell)", [&] {
    return ::CoCreateInstance(CLSID_Shell, nullptr, CLSCTX_INPROC_SERVER, IID_IShellDispatch,
                              reinterpret_cast<void**>(shell.put()));
  });
  if (!shell) Fail(E_NOINTERFACE, u"CoCreateInstance(Shell)");
  return std::make_unique<Win32Shell>(std::move(shell));
}

}  // namespace platform
