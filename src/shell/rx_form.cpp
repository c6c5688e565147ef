#include "shell/rx_form.h"

#include <cmath>

#include "wedge/option_lists.h"

namespace tarvik {

RxForm::RxForm(Parts parts)
    : p_(std::move(parts)),
      output_(p_.controls, p_.pump, p_.clock, p_.keys),
      commands_(p_.client, p_.library, p_.controls, p_.pump, p_.clock),
      reception_({p_.controls, p_.pump, p_.clock, p_.timer3, p_.sound, p_.codePage, p_.library,
                  commands_, output_, p_.winPath}),
      keeper_({p_.controls, p_.pump, p_.store, p_.codePage, settingsReady_, deviceAddress_,
               [this] { commands_.ArmInactivityDeadline(); }}),
      connection_({p_.controls, p_.pump, p_.clock, p_.sound, p_.dialogs, p_.timer3, p_.library,
                   p_.client, p_.discovery, commands_, p_.winPath, serviceText_}) {}

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
  p_.timer1.SetEnabled(true);
}

void RxForm::Timer1_Timer() {
  p_.timer1.SetEnabled(false);
  p_.shell.SetState(WindowState::Minimized);
  p_.controls.SetCaption(Ctl::Label25, deviceAddress_);
  connection_.ConnectReader();
}

void RxForm::Form_Resize() {
  if (p_.shell.State() != WindowState::Minimized) return;
  p_.shell.Hide();
  p_.shell.TrayAdd();
  inTray_ = true;
}

void RxForm::Form_MouseMove(double xTwips) {
  const double perPixel = p_.shell.TwipsPerPixelX();
  const long code = std::lround(perPixel > 0 ? xTwips / perPixel : xTwips);
  // Left button up, left double-click, right button up.
  if (code != 0x202 && code != 0x203 && code != 0x205) return;
  p_.shell.SetState(WindowState::Normal);
  if (p_.shell.State() == WindowState::Minimized) p_.shell.Show();
  p_.shell.TrayDelete();
  inTray_ = false;
}

void RxForm::Command3_Click() {
  p_.dialogs.Beep();
  if (p_.dialogs.AskYesNo("Quit ZAM Wedge ?", "(!)")) p_.endProgram();
}

void RxForm::Command6_Click() {
  connection_.Command6_Click(p_.showSelection, [this] { keeper_.salvaconf(); });
}

void RxForm::TaskbarCreated() {
  if (inTray_) p_.shell.TrayAdd();
}

void RxForm::BringBack() {
  if (inTray_) {
    Form_MouseMove(0x202 * p_.shell.TwipsPerPixelX());  // as a click on the icon
    return;
  }
  p_.shell.SetState(WindowState::Normal);
  p_.shell.Show();
}

void RxForm::OnControlChanged(Ctl ctl) { keeper_.OnControlChanged(ctl); }

void RxForm::Form_Unload() { p_.library.Close(); }

}  // namespace tarvik
