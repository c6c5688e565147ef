#include "shell/rx_form.h"

#include "keys/option_lists.h"

namespace tarvik {

RxForm::RxForm(Parts parts)
    : p_(std::move(parts)),
      output_(p_.controls, p_.pump, p_.clock, p_.keys),
      commands_(p_.client, p_.library, p_.controls, p_.pump, p_.clock, p_.diag),
      rules_(p_.rulesFile, p_.notice, p_.clock, p_.diag),
      reception_({p_.controls, p_.pump, p_.clock, p_.timer3, p_.sound, p_.codePage, p_.library,
                  commands_, output_, p_.programFile, p_.target, p_.notice, rules_, p_.fields,
                  kReceiveBufferLimit, p_.diag}),
      keeper_({p_.controls, p_.pump, p_.store, p_.codePage, settingsReady_, deviceAddress_,
               [this] { commands_.ArmInactivityDeadline(); }, p_.diag}),
      tray_(p_.shell, p_.trayRetry, p_.diag),
      connection_({p_.controls, p_.pump, p_.clock, p_.sound, p_.dialogs, p_.timer3, p_.library,
                   p_.client, p_.discovery, commands_, p_.programFile, serviceText_, p_.diag}) {}

void RxForm::Form_Load() {
  p_.timer3.SetEnabled(false);
  p_.client.OnData = [this](std::vector<std::uint8_t> buffer) {
    reception_.wclClient_OnData(std::move(buffer));
  };
  p_.client.OnConnect = [this](std::int32_t error) { connection_.wclClient_OnConnect(error); };
  p_.client.OnDisconnect = [this] { connection_.wclClient_OnDisconnect(); };
  p_.library.Open();  // its result is not looked at
  serviceText_ = std::string(kSerialPortService);
  settingsReady_ = 0;
  if (p_.fillTrayRecord) p_.fillTrayRecord();
  creacombo(p_.controls, p_.pump, settingsReady_);
  keeper_.leggiconf();
  rules_.Refresh();
  p_.rulesCheck.SetEnabled(true);
  p_.timer1.SetEnabled(true);
}

void RxForm::Timer1_Timer() {
  p_.timer1.SetEnabled(false);
  p_.shell.SetState(WindowState::Minimized);
  p_.controls.SetCaption(kAddressLabel, deviceAddress_);
  connection_.ConnectReader();
}

void RxForm::Command3_Click() {
  p_.dialogs.Beep();
  if (p_.dialogs.AskYesNo("Quit ZAM Wedge ?", "(!)")) p_.endProgram();
}

void RxForm::Command6_Click() {
  connection_.Command6_Click(p_.showSelection, [this] { keeper_.salvaconf(); });
}

void RxForm::OnControlChanged(Ctl ctl) { keeper_.OnControlChanged(ctl); }

void RxForm::Form_Unload() {
  // The link's socket goes before the library that made it: closing the
  // library first (WSACleanup) leaves the socket to a stack already torn down.
  p_.client.Disconnect();
  p_.library.Close();
}

}  // namespace tarvik
