#include "link/device_selection.h"

#include "link/connection.h"
#include "core/dialogs.h"
#include "core/event_pump.h"

namespace tarvik {

std::string ReadNameErrorText(std::int32_t code) {
  return code >= 0 ? "Error  " + std::to_string(code) : "Error " + std::to_string(code);
}

void DeviceSelection::Form_Load() {
  p_.library.Open();
  p_.discovery.OnDiscoveryStarted = [this](const Radio& r) { OnDiscoveryStarted(r); };
  p_.discovery.OnDiscoveryComplete = [this](const Radio& r, const std::optional<DeviceList>& d) {
    OnDiscoveryComplete(r, d);
  };
  loaded_ = true;
}

void DeviceSelection::Form_Unload() {
  // A discovery still running delivers nothing to a closed window.
  p_.discovery.OnDiscoveryStarted = nullptr;
  p_.discovery.OnDiscoveryComplete = nullptr;
  loaded_ = false;
  p_.library.Close();
}

void DeviceSelection::btDiscover_Click() {
  p_.view.SetStatus("Discovering... Wait please...");
  Radio radio = FindFirstRadio(p_.discovery, p_.dialogs);
  if (!radio) return;
  p_.library.ReportResult(p_.discovery.Discover(radio, 15, 0));
}

void DeviceSelection::OnDiscoveryStarted(const Radio&) {
  if (loaded_) p_.view.ClearRows();
}

void DeviceSelection::OnDiscoveryComplete(const Radio& radio, const std::optional<DeviceList>& devices) {
  if (!loaded_) return;
  p_.view.SetStatus("");
  p_.pump.ProcessPending();
  if (!devices) {
    p_.dialogs.Inform("Discovery complete with error");
    return;
  }
  if (devices->empty()) {
    p_.dialogs.Inform("Nothing found");
    return;
  }
  for (const auto& device : *devices) {
    std::int32_t result = 0;
    const std::string name = device->ReadName(radio, result);
    p_.view.AddRow(device->Address(), result == 0 ? name : ReadNameErrorText(result));
  }
}

void DeviceSelection::btConnect_Click() {
  const auto address = p_.view.SelectedAddress();
  if (!address) return;  // no row selected: nothing to store
  // The row's text less its first and last character, whatever they are.
  p_.deviceAddress = address->size() >= 2 ? address->substr(1, address->size() - 2) : std::string();
  p_.mainWindow.SetCaption(kAddressLabel, p_.deviceAddress);
  p_.pump.ProcessPending();
  p_.view.Close();
}

void DeviceSelection::Command1_Click() { p_.view.Close(); }

}  // namespace tarvik
