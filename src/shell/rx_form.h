// The main window's logic: what its load prepares and in which order, and
// the handlers of its controls and timers. The window itself, its library
// objects and the platform's services are passed in.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "link/connection.h"
#include "link/reader_commands.h"
#include "link/wireless.h"
#include "settings/settings.h"
#include "core/controls.h"
#include "core/dialogs.h"
#include "core/services.h"
#include "shell/tray.h"
#include "keys/key_reach.h"
#include "keys/keystroke_output.h"
#include "wedge/record_reception.h"
#include "shape/record_rules.h"

namespace tarvik {

inline constexpr std::string_view kSerialPortService = "{00001101-0000-1000-8000-00805F9B34FB}";

// The window's timers, in milliseconds: Timer1 ends the start-up (the window
// goes to the tray, the link opens), Timer3 watches the link for inactivity,
// Timer2 is never started; the tray retry adds the icon while the shell
// refuses it.
inline constexpr int kTimer1Ms = 10000, kTimer2Ms = 1000, kTimer3Ms = 64000, kTrayRetryMs = 1000;
// How often the rules file is looked at for changes, so that a notice about
// lines it cannot use comes soon after the user saves it.
inline constexpr int kRulesCheckMs = 2000;

class RxForm {
 public:
  struct Parts {
    IControls& controls;
    IEventPump& pump;
    const IClock& clock;
    IKeySender& keys;
    ISound& sound;
    const ICodePage& codePage;
    ITimer& timer3;
    LibraryManager& library;
    wclClient& client;
    wclBluetoothDiscovery& discovery;
    ISettingsStore& store;
    ProgramFile programFile;  // beep1.wav
    IDialogs& dialogs;
    IWindowShell& shell;
    ITimer& timer1;
    std::function<void()> endProgram;     // at once, without the unload
    std::function<void()> showSelection;  // the selection window, modal
    std::function<void()> fillTrayRecord;
    ITimer& trayRetry;  // every second while the shell refuses the icon
    const IKeyTarget& target;
    INotice& notice;
    IDiagnostics& diag;
    IWatchedFile& rulesFile;  // tarvik.ini beside the settings file
    ITimer& rulesCheck;       // every kRulesCheckMs from the load on
    IFieldReader& fields;     // the focused field, read back after a record's keys
  };
  explicit RxForm(Parts parts);

  // The load, in its order; a failing step throws with what failed.
  void Form_Load();
  // Check1, Check2, Combo1 to Combo9 changed.
  void OnControlChanged(Ctl ctl);
  // The start-up tick, once, ten seconds after the load.
  void Timer1_Timer();
  void Timer3_Timer() { commands_.Timer3_Timer(); }
  // Minimized means hidden in the tray (see Tray).
  void Form_Resize() { tray_.Form_Resize(); }
  void TrayRetry_Timer() { tray_.Retry_Timer(); }
  void Form_MouseMove(double xTwips) { tray_.Form_MouseMove(xTwips); }
  void Command3_Click();  // Quit
  void Command6_Click();  // Select device
  // The shell restarted and its tray is empty again.
  void TaskbarCreated() { tray_.TaskbarCreated(); }
  // A second copy of the program was started: come back from the tray.
  void BringBack() { tray_.BringBack(); }
  // The computer woke from sleep.
  void Resumed() { connection_.Resumed(); }
  // The window is closing: close the library (its objects go with the form).
  void Form_Unload();
  bool InTray() const { return tray_.InTray(); }
  void RulesCheck_Timer() { rules_.Refresh(); }
  // The user asked to edit the rules: the file is made from the template
  // if there is none. False, with the reason, when it could not be made.
  bool PrepareRules(std::string_view lineEnd, std::string& why) {
    return rules_.PrepareForEditing(lineEnd, why);
  }
  std::string RulesPath() const { return rules_.Describe(); }

  std::int16_t SettingsReady() const { return settingsReady_; }
  const std::string& DeviceAddress() const { return deviceAddress_; }
  const std::string& ServiceText() const { return serviceText_; }
  ReaderCommands& Commands() { return commands_; }
  ConnectionManager& Connection() { return connection_; }
  std::string& DeviceAddressRef() { return deviceAddress_; }
  SettingsKeeper& Settings() { return keeper_; }

 private:
  Parts p_;
  std::int16_t settingsReady_ = 0;
  std::string deviceAddress_;
  std::string serviceText_;
  KeystrokeOutput output_;
  ReaderCommands commands_;
  RecordRules rules_;
  RecordReception reception_;
  SettingsKeeper keeper_;
  Tray tray_;
  ConnectionManager connection_;
};

}  // namespace tarvik
