#include "settings/settings.h"

#include <array>
#include <utility>

#include "settings/settings_file.h"
#include "core/event_pump.h"
#include "core/services.h"

namespace tarvik {
namespace {

// Which control holds each numeric field, in file order.
constexpr std::array<Ctl, kFieldCount> kHolder = {
    kBeepBox, kFeedbackBox, kHiddenNumberList, kDelayList, kPrefixKeyList, kPrefixCountList,
    kSuffix1KeyList, kSuffix1CountList, kSuffix2KeyList, kSuffix2CountList, kTimeoutList};

bool IsCheckBox(Ctl c) { return c == kBeepBox || c == kFeedbackBox; }

}  // namespace

SettingsLocation ChooseSettingsLocation(bool windowsDirWritable, const SettingsFiles& found) {
  using P = SettingsPlace;
  const P write = windowsDirWritable ? P::WindowsDirectory : P::UserDirectory;
  const bool ownFile = windowsDirWritable ? found.windows : found.user;
  if (ownFile) return {write, write};
  if (found.windows) return {P::WindowsDirectory, write};
  if (found.virtualStore) return {P::VirtualStore, write};
  return {write, write};
}

void SettingsKeeper::salvaconf() {
  // Never reports anything: a save that fails leaves the previous file, and
  // the controls keep the user's choices for the rest of the run.
  SettingsValues v;
  for (int f = 0; f < kFieldCount; ++f) {
    const Ctl c = kHolder[f];
    v.numbers[f] = static_cast<std::int16_t>(IsCheckBox(c) ? p_.controls.CheckValue(c)
                                                           : p_.controls.ListIndex(c));
  }
  v.address = p_.codePage.Encode(p_.deviceAddress);
  if (!p_.store.Write(FormatSettings(v)))
    p_.diag.Event("The settings could not be saved: " + p_.store.LastError());
  p_.pump.ProcessPending();
}

void SettingsKeeper::leggiconf() {
  p_.diag.Event("Settings: " + p_.store.Describe());
  if (!p_.store.Exists()) {
    salvaconf();
    p_.pump.ProcessPending();
  }
  const auto bytes = p_.store.Read();
  const ParsedSettings parsed = ParseSettings(bytes ? *bytes : std::string());
  if (parsed.address) {
    const std::string& a = *parsed.address;
    p_.deviceAddress = p_.codePage.Decode({reinterpret_cast<const std::uint8_t*>(a.data()), a.size()});
  }
  p_.pump.ProcessPending();

  // Applying a value is an ordinary change of the control: its handler runs
  // and saves what has been applied so far. A value that cannot be read, or
  // that lies outside its control's range, leaves the control as it is.
  for (int f = 0; f < kFieldCount; ++f) {
    const auto value = parsed.numbers[f];
    if (!value) continue;
    const Ctl c = kHolder[f];
    if (IsCheckBox(c)) {
      if (*value == 0 || *value == 1) p_.controls.SetCheckValue(c, *value);
    } else if (*value >= 0 && *value < p_.controls.ListCount(c)) {
      p_.controls.SetListIndex(c, *value);
    }
  }
  p_.pump.ProcessPending();
  p_.controls.SetCaption(kAddressLabel, p_.deviceAddress);
}

void SettingsKeeper::OnControlChanged(Ctl ctl) {
  if (p_.settingsReady != 1) return;
  if (ctl == kTimeoutList) {
    p_.pump.ProcessPending();
    if (p_.armInactivityDeadline) p_.armInactivityDeadline();
  }
  salvaconf();
}

}  // namespace tarvik
