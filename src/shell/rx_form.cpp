#include "shell/rx_form.h"

#include "wedge/option_lists.h"

namespace tarvik {

RxForm::RxForm(Parts parts)
    : p_(std::move(parts)),
      output_(p_.controls, p_.pump, p_.clock, p_.keys),
      commands_(p_.client, p_.library, p_.controls, p_.pump, p_.clock),
      reception_({p_.controls, p_.pump, p_.clock, p_.timer3, p_.sound, p_.codePage, p_.library,
                  commands_, output_, p_.winPath}),
      keeper_({p_.controls, p_.pump, p_.store, p_.codePage, settingsReady_, deviceAddress_,
               [this] { commands_.ArmInactivityDeadline(); }}) {}

void RxForm::Form_Load() {
  p_.timer3.SetEnabled(false);
  p_.client.OnData = [this](std::vector<std::uint8_t> buffer) {
    reception_.wclClient_OnData(std::move(buffer));
  };
  p_.library.Open();  // its result is not looked at
  serviceText_ = std::string(kSerialPortService);
  settingsReady_ = 0;
  creacombo(p_.controls, p_.pump, settingsReady_);
  keeper_.leggiconf();
}

void RxForm::OnControlChanged(Ctl ctl) { keeper_.OnControlChanged(ctl); }

void RxForm::Form_Unload() { p_.library.Close(); }

}  // namespace tarvik
