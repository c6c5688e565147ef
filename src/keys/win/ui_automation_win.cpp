#include "keys/win/ui_automation_win.h"

#include "keys/win/field_reader_win.h"
// After windows.h, which WIN32_LEAN_AND_MEAN keeps from including them.
#include <objbase.h>
#include <oleauto.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace tarvik::win {

std::string NoAnswerWithin(std::chrono::milliseconds limit) {
  return "no answer within " + std::to_string(limit.count()) + " ms";
}

// ---- the worker --------------------------------------------------------------

struct BoundedAutomation::Shared {
  enum class Opened { kPending, kYes, kNo };
  std::mutex mutex;
  std::condition_variable changed;
  Opened opened = Opened::kPending;
  bool asked = false;  // a read waits for the worker
  bool busy = false;   // the worker is in a read, perhaps one its caller gave up on
  bool answered = false;
  bool quit = false;
  FieldReading answer;
};

BoundedAutomation::BoundedAutomation(std::unique_ptr<IFocusedElementSource> source)
    : shared_(std::make_shared<Shared>()) {
  // The worker owns the source, so that it is opened, used and released on
  // the one thread (COM objects belong to the apartment that made them), and
  // the shared state, which outlives this object when the worker is stuck.
  std::thread([shared = shared_, source = std::move(source)]() mutable {
    const bool open = source->Open();
    std::unique_lock lock(shared->mutex);
    shared->opened = open ? Shared::Opened::kYes : Shared::Opened::kNo;
    shared->changed.notify_all();
    while (open) {
      shared->changed.wait(lock, [&] { return shared->asked || shared->quit; });
      if (shared->quit) break;
      shared->asked = false;
      lock.unlock();
      FieldReading reading = source->ReadFocused();
      lock.lock();
      shared->answer = std::move(reading);
      shared->answered = true;
      shared->busy = false;
      shared->changed.notify_all();
    }
    lock.unlock();
    source.reset();
  }).detach();
}

BoundedAutomation::~BoundedAutomation() {
  std::lock_guard lock(shared_->mutex);
  shared_->quit = true;
  shared_->changed.notify_all();
}

FieldReading BoundedAutomation::Read(std::chrono::milliseconds limit) {
  std::unique_lock lock(shared_->mutex);
  const auto end = std::chrono::steady_clock::now() + limit;
  // Not waited for: the program opens it at its start, long before a record,
  // and under Wine the attempt (which fails) has been seen to take seconds.
  if (shared_->opened == Shared::Opened::kPending) return {std::nullopt, "UI Automation is still starting", {}};
  if (shared_->opened == Shared::Opened::kNo) return {std::nullopt, "UI Automation is not available", {}};
  if (shared_->busy) return {std::nullopt, "UI Automation has not returned from an earlier read", {}};
  shared_->asked = shared_->busy = true;
  shared_->answered = false;
  shared_->changed.notify_all();
  if (!shared_->changed.wait_until(lock, end, [&] { return shared_->answered; }))
    return {std::nullopt, NoAnswerWithin(limit), {}};
  return std::move(shared_->answer);
}

// ---- UI Automation's client interfaces ----------------------------------------
// mingw-w64's headers carry only the identifier constants, so the interfaces
// are declared here: every method in its vtable place up to the last one
// called, the ones not called with untyped arguments.
namespace {

constexpr long kTextPatternId = 10014;
constexpr long kValuePatternId = 10002;
constexpr long kIsPasswordPropertyId = 30019;
enum TextEndpoint { kEndpointStart = 0, kEndpointEnd = 1 };

constexpr CLSID kClsidCUIAutomation = {0xff48dba4, 0x60ef, 0x4201, {0xaa, 0x87, 0x54, 0x10, 0x3e, 0xef, 0x59, 0x4e}};
constexpr IID kIidAutomation = {0x30cbe57d, 0xd9d0, 0x452a, {0xab, 0x13, 0x7a, 0xc5, 0xac, 0x48, 0x25, 0xee}};
constexpr IID kIidTextPattern = {0x32eba289, 0x3583, 0x42c9, {0x9c, 0x59, 0x3b, 0x6d, 0x9a, 0x1e, 0x9b, 0x6a}};

#define TARVIK_UNUSED_METHOD(name) virtual HRESULT STDMETHODCALLTYPE name(void*, void*, void*, void*) = 0

struct UiaElement : IUnknown {
  TARVIK_UNUSED_METHOD(SetFocus);
  virtual HRESULT STDMETHODCALLTYPE GetRuntimeId(SAFEARRAY** id) = 0;
  TARVIK_UNUSED_METHOD(FindFirst);
  TARVIK_UNUSED_METHOD(FindAll);
  TARVIK_UNUSED_METHOD(FindFirstBuildCache);
  TARVIK_UNUSED_METHOD(FindAllBuildCache);
  TARVIK_UNUSED_METHOD(BuildUpdatedCache);
  virtual HRESULT STDMETHODCALLTYPE GetCurrentPropertyValue(long property, VARIANT* value) = 0;
  TARVIK_UNUSED_METHOD(GetCurrentPropertyValueEx);
  TARVIK_UNUSED_METHOD(GetCachedPropertyValue);
  TARVIK_UNUSED_METHOD(GetCachedPropertyValueEx);
  virtual HRESULT STDMETHODCALLTYPE GetCurrentPatternAs(long pattern, REFIID iid, void** object) = 0;
  TARVIK_UNUSED_METHOD(GetCachedPatternAs);
  virtual HRESULT STDMETHODCALLTYPE GetCurrentPattern(long pattern, IUnknown** object) = 0;
};

struct UiaAutomation : IUnknown {
  TARVIK_UNUSED_METHOD(CompareElements);
  TARVIK_UNUSED_METHOD(CompareRuntimeIds);
  TARVIK_UNUSED_METHOD(GetRootElement);
  TARVIK_UNUSED_METHOD(ElementFromHandle);
  TARVIK_UNUSED_METHOD(ElementFromPoint);
  virtual HRESULT STDMETHODCALLTYPE GetFocusedElement(UiaElement** element) = 0;
};

struct UiaTextRange : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Clone(UiaTextRange** clone) = 0;
  TARVIK_UNUSED_METHOD(Compare);
  TARVIK_UNUSED_METHOD(CompareEndpoints);
  TARVIK_UNUSED_METHOD(ExpandToEnclosingUnit);
  TARVIK_UNUSED_METHOD(FindAttribute);
  TARVIK_UNUSED_METHOD(FindText);
  TARVIK_UNUSED_METHOD(GetAttributeValue);
  TARVIK_UNUSED_METHOD(GetBoundingRectangles);
  TARVIK_UNUSED_METHOD(GetEnclosingElement);
  virtual HRESULT STDMETHODCALLTYPE GetText(int maxLength, BSTR* text) = 0;
  TARVIK_UNUSED_METHOD(Move);
  TARVIK_UNUSED_METHOD(MoveEndpointByUnit);
  virtual HRESULT STDMETHODCALLTYPE MoveEndpointByRange(TextEndpoint from, UiaTextRange* range,
                                                        TextEndpoint to) = 0;
};

struct UiaTextRangeArray : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE get_Length(int* length) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetElement(int index, UiaTextRange** range) = 0;
};

struct UiaTextPattern : IUnknown {
  TARVIK_UNUSED_METHOD(RangeFromPoint);
  TARVIK_UNUSED_METHOD(RangeFromChild);
  virtual HRESULT STDMETHODCALLTYPE GetSelection(UiaTextRangeArray** ranges) = 0;
  TARVIK_UNUSED_METHOD(GetVisibleRanges);
  virtual HRESULT STDMETHODCALLTYPE get_DocumentRange(UiaTextRange** range) = 0;
};

#undef TARVIK_UNUSED_METHOD

// Holds one reference.
template <class T>
class Com {
 public:
  Com() = default;
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  ~Com() { Reset(); }
  T** Out() { return &p_; }
  T* operator->() const { return p_; }
  T* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void Reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

class Bstr {
 public:
  Bstr() = default;
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(b_); }
  BSTR* Out() { return &b_; }
  std::wstring_view View() const { return b_ ? std::wstring_view(b_, SysStringLen(b_)) : std::wstring_view(); }

 private:
  BSTR b_ = nullptr;
};

FieldReading NoField(std::string why, std::string which) {
  return FieldReading{std::nullopt, std::move(why), std::move(which)};
}

// "uia 2A.10B4.3": the element's runtime id, unique while it lives.
std::string RuntimeId(UiaElement& element) {
  SAFEARRAY* ids = nullptr;
  if (FAILED(element.GetRuntimeId(&ids)) || !ids) return {};
  std::string out = "uia";
  LONG low = 0, high = -1;
  SafeArrayGetLBound(ids, 1, &low);
  SafeArrayGetUBound(ids, 1, &high);
  for (LONG i = low; i <= high; ++i) {
    int part = 0;
    if (FAILED(SafeArrayGetElement(ids, &i, &part))) break;
    char hex[16];
    std::snprintf(hex, sizeof hex, "%c%X", i == low ? ' ' : '.', static_cast<unsigned>(part));
    out += hex;
  }
  SafeArrayDestroy(ids);
  return out;
}

// How many UTF-16 units of the document come before an endpoint of the range.
std::optional<std::size_t> OffsetOf(UiaTextRange& document, UiaTextRange& range, TextEndpoint endpoint) {
  Com<UiaTextRange> before;
  Bstr text;
  if (FAILED(document.Clone(before.Out())) || !before ||
      FAILED(before->MoveEndpointByRange(kEndpointEnd, &range, endpoint)) ||
      FAILED(before->GetText(-1, text.Out())))
    return std::nullopt;
  return text.View().size();
}

class UiAutomationSource : public IFocusedElementSource {
 public:
  ~UiAutomationSource() override {
    automation_.Reset();
    if (comReady_) CoUninitialize();
  }

  bool Open() override {
    comReady_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    // Where no UI Automation is registered (Wine: REGDB_E_CLASSNOTREG) this
    // fails at once; nothing else of it is touched then.
    return comReady_ && SUCCEEDED(CoCreateInstance(kClsidCUIAutomation, nullptr, CLSCTX_INPROC_SERVER,
                                                    kIidAutomation, reinterpret_cast<void**>(automation_.Out()))) &&
           automation_;
  }

  FieldReading ReadFocused() override {
    Com<UiaElement> element;
    UiaAutomation* automation = automation_.get();
    const HRESULT got = automation->GetFocusedElement(element.Out());
    if (FAILED(got) || !element) return NoField("no element has the keyboard focus", std::string());
    std::string which = RuntimeId(*element.get());
    VARIANT password;
    VariantInit(&password);
    const bool secret = SUCCEEDED(element->GetCurrentPropertyValue(kIsPasswordPropertyId, &password)) &&
                        password.vt == VT_BOOL && password.boolVal != VARIANT_FALSE;
    VariantClear(&password);
    if (secret) return NoField("a password field", which);
    Com<UiaTextPattern> pattern;
    if (FAILED(element->GetCurrentPatternAs(kTextPatternId, kIidTextPattern,
                                            reinterpret_cast<void**>(pattern.Out()))) || !pattern) {
      // The value alone says nothing of where the caret is, without which
      // what the keys should have made of it cannot be told.
      Com<IUnknown> value;
      const bool hasValue = SUCCEEDED(element->GetCurrentPattern(kValuePatternId, value.Out())) && value;
      return NoField(hasValue ? "a field that shows no caret" : "not a text field", which);
    }
    Com<UiaTextRange> document;
    Com<UiaTextRangeArray> selection;
    Com<UiaTextRange> first;
    Bstr text;
    int ranges = 0;
    if (FAILED(pattern->get_DocumentRange(document.Out())) || !document ||
        FAILED(document->GetText(static_cast<int>(kFieldReadLimit) + 1, text.Out())))
      return NoField("the field's text could not be read", which);
    if (text.View().size() > kFieldReadLimit)
      return NoField("a field of more than " + std::to_string(kFieldReadLimit) + " characters", which);
    if (FAILED(pattern->GetSelection(selection.Out())) || !selection ||
        FAILED(selection->get_Length(&ranges)) || ranges < 1 ||
        FAILED(selection->GetElement(0, first.Out())) || !first)
      return NoField("a field that shows no caret", which);
    const auto start = OffsetOf(*document.get(), *first.get(), kEndpointStart);
    const auto end = OffsetOf(*document.get(), *first.get(), kEndpointEnd);
    if (!start || !end) return NoField("a field that shows no caret", which);
    return FieldReading{EditFieldText(text.View(), *start, *end, false, FieldCase::kAsTyped), {},
                        std::move(which)};
  }

 private:
  bool comReady_ = false;
  Com<UiaAutomation> automation_;
};

}  // namespace

std::unique_ptr<IFocusedElementSource> MakeUiAutomationSource() {
  return std::make_unique<UiAutomationSource>();
}

}  // namespace tarvik::win
