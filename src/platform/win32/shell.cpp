// The Shell automation objects over COM.
//
// Each class wraps one COM interface pointer and turns its members into
// plain calls: strings in and out as UTF-16, a failing HRESULT thrown as a
// ShellFailure with the best description the system has for it, a null
// answer handed back as a null pointer.  Every interface pointer, BSTR and
// VARIANT lives in a small owner that releases it, so an exception leaves
// nothing behind.
//
// This file is divided into: the owners (ComPtr, Bstr, Variant); failures
// (the description of a failed call); COM on this thread; the objects, the
// link object with its second route through the system's own link object
// first.
#include "platform/platform.h"
#include "lnk/builder.h"
#include "lnk/propstore.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shobjidl.h>
#include <shlobj.h>
#include <propsys.h>

#include <algorithm>
#include <iterator>
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
  // A second reference to the same object.
  ComPtr share() const {
    ComPtr out;
    if (p_ != nullptr) p_->AddRef();
    out.p_ = p_;
    return out;
  }
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

// The description of a failed call: what the object said about it (its
// error info or exception info), else what the system says about the code.
// The member's name and the code follow in brackets, so that a user can
// tell which step went wrong.
std::u16string Describe(HRESULT hr, std::u16string_view member, std::u16string description = {}) {
  description = TrimEnd(std::move(description));
  if (description.empty()) {
    IErrorInfo* raw = nullptr;
    if (::GetErrorInfo(0, &raw) == S_OK && raw != nullptr) {
      Bstr text;
      if (SUCCEEDED(raw->GetDescription(text.put()))) description = TrimEnd(text.str());
      raw->Release();
    }
  }
  if (description.empty()) description = ErrorMessage(static_cast<std::uint32_t>(hr));
  if (description.empty()) description = u"Shell call failed";
  description += u" (";
  description += member;
  description += u", ";
  description += Hex32(static_cast<std::uint32_t>(hr));
  description += u")";
  return description;
}

[[noreturn]] void Fail(HRESULT hr, std::u16string_view member, std::u16string description = {}) {
  throw ShellFailure{Describe(hr, member, std::move(description))};
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

// The link object of one file.  It is the Shell's automation object
// (IShellLinkDual) where the Shell gives one that works, as Windows' does.
// Where it does not (Wine's Shell cannot open an empty file as a link, and
// its IShellLinkDual implements neither Path nor Save), the same link is
// made with the system's own link object, CLSID_ShellLink, through
// IShellLinkW and IPersistFile, saved into the same file.  The properties
// are kept as they are set, so that the switch can come at any member.
class Win32ShellLink final : public ShellLinkObject {
 public:
  // `dual` null: the automation route failed already, for the reason `why`.
  Win32ShellLink(ComPtr<IShellLinkDual> dual, ComPtr<FolderItem> item, std::u16string why)
      : dual_(std::move(dual)), item_(std::move(item)), why_(std::move(why)) {}

  void SetPath(const std::u16string& path) override {
    path_ = path;
    Put(u"IShellLinkDual.Path", &IShellLinkDual::put_Path, path);
  }
  void SetProperties(const lnk::Properties& properties) override {
    properties_ = properties;
    Put(u"IShellLinkDual.Description", &IShellLinkDual::put_Description, properties.description);
    Put(u"IShellLinkDual.WorkingDirectory", &IShellLinkDual::put_WorkingDirectory, properties.workingDirectory);
    Put(u"IShellLinkDual.Arguments", &IShellLinkDual::put_Arguments, properties.arguments);
    if (!properties.iconLocation.empty() && dual_) {
      Bstr text(properties.iconLocation);
      Automation(u"IShellLinkDual.SetIconLocation",
                 [&] { return dual_->SetIconLocation(text.get(), properties.iconIndex); });
    }
    if (properties.showCommand != kShowNormal && dual_) {
      Automation(u"IShellLinkDual.ShowCommand", [&] { return dual_->put_ShowCommand(ShowCommand()); });
    }
    if (properties.hotKey != 0 && dual_) {
      Automation(u"IShellLinkDual.Hotkey", [&] { return dual_->put_Hotkey(properties.hotKey); });
    }
  }
  // IShellLinkDual has only a path to set; a target that is not here is
  // given to the system's link object as its item list.
  void SetPathNotHere(const std::u16string& path, bool isFolder) override {
    path_ = path;
    notHere_ = true;
    notHereFolder_ = isFolder;
    dual_.reset();
  }
  void Save() override {
    if (UnknownVariable()) {
      SaveAsTyped();
      return;
    }
    if (dual_) {
      // The file argument left out, the way a script omits an optional one.
      Variant omitted;
      omitted.get().vt = VT_ERROR;
      omitted.get().scode = DISP_E_PARAMNOTFOUND;
      Automation(u"IShellLinkDual.Save", [&] { return dual_->Save(omitted.get()); });
    }
    if (!dual_) {
      try {
        SaveWithSystemLink();
      } catch (const ShellFailure& failure) {
        if (notHere_ || failure.description.empty()) throw;
        throw ShellFailure{why_ + u"; the system's link object: " + failure.description};
      }
    }
    if (properties_.runAsAdministrator || !properties_.appId.empty()) {
      Bstr path;
      Call(u"FolderItem.Path", [&] { return item_->get_Path(path.put()); });
      if (properties_.runAsAdministrator) StoreRunAsAdministrator(path);
      if (!properties_.appId.empty()) StoreAppUserModelId(path);
    }
  }

 private:
  // One member of the automation object.  E_NOTIMPL hands the link to the
  // system's link object from here on; any other failure is the run's.
  template <class F>
  void Automation(std::u16string_view member, F&& call) {
    ::SetErrorInfo(0, nullptr);
    const HRESULT hr = call();
    if (hr == E_NOTIMPL) {
      why_ = Describe(hr, member);
      dual_.reset();
    } else if (FAILED(hr)) {
      Fail(hr, member);
    }
  }

  void Put(std::u16string_view member, HRESULT (STDMETHODCALLTYPE IShellLinkDual::*put)(BSTR),
           const std::u16string& value) {
    if (!dual_) return;
    Bstr text(value);
    Automation(member, [&] { return (dual_.get()->*put)(text.get()); });
  }

  void SaveWithSystemLink() {
    ComPtr<IShellLinkW> link;
    Call(u"CoCreateInstance(ShellLink)", [&] {
      return ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(link.put()));
    });
    if (!link) Fail(E_NOINTERFACE, u"CoCreateInstance(ShellLink)");
    if (notHere_) {
      // The names as typed, no look at the disk: the Shell's own SetPath
      // would put short names and underscores in for what it cannot find.
      const std::string items = NotHereItems();
      Call(u"IShellLinkW.SetIDList",
           [&] { return link->SetIDList(reinterpret_cast<PCIDLIST_ABSOLUTE>(items.data())); });
    } else {
      Call(u"IShellLinkW.SetPath", [&] { return link->SetPath(Wide(path_)); });
      // A path of %VARIABLES% the object does not keep as such (Wine's takes
      // it for a relative one) is given as they lead here: a link that
      // opens on this machine, not one that opens nowhere.
      std::u16string path = path_;
      if (path_.find(u'%') != std::u16string::npos && RawPath(link.get()) != path_) {
        path = ExpandVariables(path_);
        Call(u"IShellLinkW.SetPath", [&] { return link->SetPath(Wide(path)); });
      }
      // SetPath fills in the volume and the stored path.  Wine's builds the
      // item list's last item without looking at the file (no attributes,
      // so a folder shows as a file); the Shell's own parse of the path
      // gives every item as the file system has it.
      PIDLIST_ABSOLUTE pidl = nullptr;
      if (SUCCEEDED(::SHParseDisplayName(Wide(path), nullptr, &pidl, 0, nullptr)) && pidl != nullptr) {
        const HRESULT hr = link->SetIDList(pidl);
        ::CoTaskMemFree(pidl);
        if (FAILED(hr)) Fail(hr, u"IShellLinkW.SetIDList");
      }
    }
    const lnk::Properties& p = properties_;
    Call(u"IShellLinkW.SetDescription", [&] { return link->SetDescription(Wide(p.description)); });
    Call(u"IShellLinkW.SetWorkingDirectory", [&] { return link->SetWorkingDirectory(Wide(p.workingDirectory)); });
    Call(u"IShellLinkW.SetArguments", [&] { return link->SetArguments(Wide(p.arguments)); });
    if (!p.iconLocation.empty()) {
      Call(u"IShellLinkW.SetIconLocation", [&] { return link->SetIconLocation(Wide(p.iconLocation), p.iconIndex); });
    }
    if (p.showCommand != kShowNormal) Call(u"IShellLinkW.SetShowCmd", [&] { return link->SetShowCmd(ShowCommand()); });
    if (p.hotKey != 0) Call(u"IShellLinkW.SetHotkey", [&] { return link->SetHotkey(p.hotKey); });
    // The file the automation object was (or would have been) opened on.
    Bstr path;
    Call(u"FolderItem.Path", [&] { return item_->get_Path(path.put()); });
    const ComPtr<IPersistFile> file = QueryAs<IPersistFile>(link.get(), IID_IPersistFile, u"IPersistFile");
    Call(u"IPersistFile.Save", [&] { return file->Save(path.get(), TRUE); });
  }

  // A path that begins with a variable this machine does not have
  // ("%NOSUCH%\app.exe"): the system's link object takes it for a relative
  // path and stores it made full against the current folder.
  bool UnknownVariable() const {
    const std::size_t closing = path_.size() > 2 && path_[0] == u'%' ? path_.find(u'%', 1) : std::u16string::npos;
    return closing != std::u16string::npos && closing > 1 &&
           ExpandVariables(path_).compare(0, closing + 1, path_, 0, closing + 1) == 0;
  }

  // Such a link is written as Windows stores a path of variables it cannot
  // look at: the variables alone, in the environment block, no item list
  // and no LinkInfo; the file's bytes from the format's own builder.
  void SaveAsTyped() {
    lnk::LinkData data;
    data.targetPath = data.environmentTarget = path_;
    data.idList = false;
    data.location = lnk::LinkData::Location::kNone;
    data.forceNoLinkInfo = data.preferEnvironmentPath = true;
    data.targetExists = false;
    lnk::SetProperties(data, properties_, ExpandVariables(properties_.iconLocation));
    std::string bytes;
    try {
      bytes = lnk::BuildLinkFile(data);
    } catch (const std::exception&) {
      Fail(E_INVALIDARG, u"the link's bytes");
    }
    Bstr path;
    Call(u"FolderItem.Path", [&] { return item_->get_Path(path.put()); });
    const HANDLE file = ::CreateFileW(path.get(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, TRUNCATE_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD done = 0;
    const bool ok = file != INVALID_HANDLE_VALUE &&
                    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) &&
                    done == bytes.size();
    const DWORD why = ::GetLastError();
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    if (!ok) throw ShellFailure{u"", static_cast<std::uint32_t>(why == 0 ? ERROR_WRITE_FAULT : why)};
  }

  // The item list of a path this machine does not have, as Windows stores
  // one it cannot look at: My Computer, the drive, a folder item for each
  // name on the way and a file or folder item last, no sizes or times.
  std::string NotHereItems() const {
    std::vector<lnk::LinkItem> items;
    for (std::size_t at = 3; at < path_.size();) {
      std::size_t end = path_.find(u'\\', at);
      if (end == std::u16string::npos) end = path_.size();
      if (end > at) items.push_back(lnk::LinkItem{path_.substr(at, end - at), true, 0, 0, 0, 0, FILE_ATTRIBUTE_DIRECTORY});
      at = end + 1;
    }
    if (!items.empty() && !notHereFolder_) {
      items.back().isFolder = false;
      items.back().attributes = 0;
    }
    try {
      return lnk::BuildIdList(path_.empty() ? u'?' : path_[0], items);
    } catch (const std::exception&) {
      Fail(E_INVALIDARG, u"IShellLinkW.SetIDList");
    }
  }

  // The saved file, loaded into the system's link object.
  ComPtr<IShellLinkW> LoadSaved(const Bstr& path, ComPtr<IPersistFile>& file) {
    ComPtr<IShellLinkW> link;
    Call(u"CoCreateInstance(ShellLink)", [&] {
      return ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(link.put()));
    });
    if (!link) Fail(E_NOINTERFACE, u"CoCreateInstance(ShellLink)");
    file = QueryAs<IPersistFile>(link.get(), IID_IPersistFile, u"IPersistFile");
    Call(u"IPersistFile.Load", [&] { return file->Load(path.get(), STGM_READWRITE); });
    return link;
  }

  // "Run as administrator" is a flag of the link's data, which only the
  // system's link object sets: it loads the saved file, sets the flag and
  // saves it again.  Where that object keeps the flag, or the show command
  // and hot key, from no file it saves (Wine's: SetFlags there is a stub
  // and the show command is not read), the header's fixed fields are put
  // right in the file, so that no link is reported made without them.
  void StoreRunAsAdministrator(const Bstr& path) {
    ComPtr<IPersistFile> file;
    const ComPtr<IShellLinkW> link = LoadSaved(path, file);
    const ComPtr<IShellLinkDataList> data =
        QueryAs<IShellLinkDataList>(link.get(), IID_IShellLinkDataList, u"IShellLinkDataList");
    DWORD flags = 0;
    Call(u"IShellLinkDataList.GetFlags", [&] { return data->GetFlags(&flags); });
    Call(u"IShellLinkDataList.SetFlags", [&] { return data->SetFlags(flags | SLDF_RUNAS_USER); });
    Call(u"IPersistFile.Save", [&] { return file->Save(path.get(), TRUE); });
    RewriteSaved(path.get(), [this](std::string& bytes) { return KeepHeaderFields(bytes); });
  }

  // The header's fixed fields (LinkFlags at 0x14, ShowCommand at 0x3C,
  // HotKey at 0x40) as this link was given them; false for a file that does
  // not begin with a link's header.
  bool KeepHeaderFields(std::string& bytes) const {
    static constexpr unsigned char kStart[20] = {0x4C, 0, 0, 0, 0x01, 0x14, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    if (bytes.size() < 0x4C || !std::equal(std::begin(kStart), std::end(kStart), bytes.begin(),
                                           [](unsigned char a, char b) { return a == static_cast<unsigned char>(b); })) {
      return false;
    }
    const auto put = [&](std::size_t at, std::uint32_t value, std::size_t count) {
      for (std::size_t i = 0; i < count; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
    };
    std::uint32_t flags = 0;
    for (std::size_t i = 4; i-- > 0;) flags = flags << 8 | static_cast<unsigned char>(bytes[0x14 + i]);
    put(0x14, flags | SLDF_RUNAS_USER, 4);
    put(0x3C, properties_.showCommand, 4);
    put(0x40, properties_.hotKey, 2);
    return true;
  }

  // System.AppUserModel.ID, which only the system's link object sets: it
  // loads the saved file, sets the ID in its property store (IPropertyStore
  // SetValue and Commit) and saves it again.  Where that object has no
  // property store, or does not keep the ID (Wine's answers S_OK to
  // SetValue, E_NOTIMPL to GetValue, and writes no block), the saved file is
  // given the ID here, in the block the Linux build writes, the rest of its
  // store and of the file kept.
  void StoreAppUserModelId(const Bstr& path) {
    ComPtr<IPersistFile> file;
    const ComPtr<IShellLinkW> link = LoadSaved(path, file);
    ComPtr<IPropertyStore> store;
    if (SUCCEEDED(link->QueryInterface(IID_IPropertyStore, reinterpret_cast<void**>(store.put()))) && store) {
      static constexpr PROPERTYKEY kAppId = {
          {0x9F4C2855, 0x9F79, 0x4B39, {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}}, lnk::kAppUserModelId};
      std::u16string id = properties_.appId;
      PROPVARIANT value{};
      value.vt = VT_LPWSTR;
      value.pwszVal = reinterpret_cast<LPWSTR>(id.data());  // SetValue copies it
      // Saved again only by an object that answers the ID back: a load and
      // save through one that keeps it from no file (Wine's) would lose the
      // header's fields it does not read either.
      PROPVARIANT kept{};
      if (SUCCEEDED(store->SetValue(kAppId, value)) && SUCCEEDED(store->Commit()) &&
          SUCCEEDED(store->GetValue(kAppId, &kept))) {
        const bool same = kept.vt == VT_LPWSTR && kept.pwszVal != nullptr &&
                          std::u16string_view(reinterpret_cast<const char16_t*>(kept.pwszVal)) == properties_.appId;
        ::PropVariantClear(&kept);
        if (same) Call(u"IPersistFile.Save", [&] { return file->Save(path.get(), TRUE); });
      }
    }
    RewriteSaved(path.get(), [this](std::string& bytes) { return KeepAppUserModelId(bytes); });
  }

  // The saved file's property store with the ID in it: as it is when it
  // holds it already, else with it set (a store that cannot be read made
  // anew); false for a file whose parts cannot be followed to its blocks.
  bool KeepAppUserModelId(std::string& bytes) const {
    const lnk::StoreBlockPlace place = lnk::FindPropertyStoreBlock(bytes);
    if (!place.error.empty()) return false;
    const std::string_view old =
        place.size == 0 ? std::string_view() : std::string_view(bytes).substr(place.at + 8, place.size - 8);
    const std::u16string& id = properties_.appId;
    lnk::StoreEdit edit = lnk::SetStringProperty(old, lnk::kAppUserModelFormat, lnk::kAppUserModelId, id);
    if (!edit.ok) edit.store = lnk::NewStringPropertyStore(lnk::kAppUserModelFormat, lnk::kAppUserModelId, id);
    if (edit.store != old) bytes = lnk::WithPropertyStore(bytes, place, edit.store);
    return true;
  }

  // Reads the saved file (a link of a few KB; one of 1 MB or more is none
  // this program saved), has `change` change its bytes, and writes them
  // back when they changed.  `change` answers false for a file that is no
  // link of the form it knows.
  template <class F>
  static void RewriteSaved(const wchar_t* path, F&& change) {
    const HANDLE file = ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw ShellFailure{u"", static_cast<std::uint32_t>(::GetLastError())};
    const DWORD size = ::GetFileSize(file, nullptr);
    std::string bytes(size < (1u << 20) ? size : 0, '\0');
    DWORD done = 0;
    if (bytes.empty()) ::SetLastError(ERROR_BAD_FORMAT);
    bool ok = !bytes.empty() && ::ReadFile(file, bytes.data(), size, &done, nullptr) && done == size;
    if (ok) {
      const std::string before = bytes;
      if (!change(bytes)) {
        ::SetLastError(ERROR_BAD_FORMAT);
        ok = false;
      } else if (bytes != before) {
        ok = ::SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 &&
             ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) &&
             done == bytes.size() && ::SetEndOfFile(file);
      }
    } else if (::GetLastError() == ERROR_SUCCESS) {
      ::SetLastError(ERROR_BAD_FORMAT);
    }
    const DWORD why = ::GetLastError();
    ::CloseHandle(file);
    if (!ok) throw ShellFailure{u"", static_cast<std::uint32_t>(why)};
  }

  // The path the object holds, as it holds it (variables unexpanded).
  static std::u16string RawPath(IShellLinkW* link) {
    std::u16string path(MAX_PATH, u'\0');
    if (FAILED(link->GetPath(reinterpret_cast<wchar_t*>(path.data()), MAX_PATH, nullptr, SLGP_RAWPATH))) return {};
    path.resize(path.find(u'\0'));
    return path;
  }

  static const wchar_t* Wide(const std::u16string& text) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t));
    return reinterpret_cast<const wchar_t*>(text.c_str());
  }

  static constexpr std::uint32_t kShowNormal = SW_SHOWNORMAL;
  int ShowCommand() const { return static_cast<int>(properties_.showCommand); }

  ComPtr<IShellLinkDual> dual_;
  ComPtr<FolderItem> item_;
  std::u16string why_;
  std::u16string path_;
  lnk::Properties properties_;
  bool notHere_ = false, notHereFolder_ = false;
};

class Win32FolderItem final : public FolderItemObject {
 public:
  explicit Win32FolderItem(ComPtr<FolderItem> item) : item_(std::move(item)) {}

  std::u16string Path() override {
    Bstr path;
    Call(u"FolderItem.Path", [&] { return item_->get_Path(path.put()); });
    return path.str();
  }

  // Never null: where the Shell gives no link object for the file, the
  // system's link object will write it (see Win32ShellLink).
  std::unique_ptr<ShellLinkObject> GetLink() override {
    ComPtr<IDispatch> object;
    ::SetErrorInfo(0, nullptr);
    const HRESULT hr = item_->get_GetLink(object.put());
    ComPtr<IShellLinkDual> dual;
    std::u16string why;
    if (FAILED(hr)) {
      why = Describe(hr, u"FolderItem.GetLink");
    } else if (!object || FAILED(object->QueryInterface(IID_IShellLinkDual, reinterpret_cast<void**>(dual.put()))) ||
               !dual) {
      why = u"the Shell gave no link object (FolderItem.GetLink)";
    }
    return std::make_unique<Win32ShellLink>(std::move(dual), item_.share(), std::move(why));
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
    UINT badArgument = 0;
    ::SetErrorInfo(0, nullptr);
    const HRESULT hr = folder_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                                       &none, result.put(), &exception, &badArgument);
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
